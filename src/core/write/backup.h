// SPDX-License-Identifier: MIT
#pragma once
// The numbered copy of the original that a write makes when asked: "NAME (original).EXT",
// "NAME (original 2).EXT", ... beside it, never overwriting anything.

#include <sys/stat.h>

#include <filesystem>

#include "core/io/binary_io.h"
#include "core/write/pending_file.h"

namespace pelorix::write {

// Copies `in` (the file at `path`, in the folder open as `folder`, whose status is `original`)
// to the first free backup name,
// created exclusively, with its owner, permission bits and extended attributes, flushed to
// storage, on the same copy path as the temporary file. The copy stays pending (removed on
// every way out) until kept. Throws TagError or std::system_error.
// Refuses (TagError) a file whose first free backup name would be longer than its folder
// allows; creates nothing. writeBackup refuses the same way.
void checkBackupName(int folder, const std::filesystem::path& path);

PendingFile writeBackup(const FileIn& in, const struct stat& original, int folder,
                        const std::filesystem::path& path);

}  // namespace pelorix::write

// SPDX-License-Identifier: MIT
#pragma once
// What a new file takes over from the one it replaces: owner and group, permission bits and
// extended attributes.

#include <sys/stat.h>

namespace pelorix::write {

// Gives `to` the owner and group in `original`, or throws TagError ownerNotKept when this
// process may not: a replacement never silently changes who owns the file. Call it before
// writing, so a refusal costs nothing; the owner's change clears set-id bits, which
// keepModeAndAttributes restores.
void keepOwner(const struct stat& original, int to);

// Whether keepOwner would succeed for a file created now in the folder described by `folder`,
// told without creating one: what a rehearsal checks.
bool ownerKeepable(const struct stat& original, const struct stat& folder);

// Gives `to` the permission bits in `original` and the extended attributes of the file open as
// `from`. Call it after the last write: a write clears set-id bits and file capabilities.
void keepModeAndAttributes(int from, const struct stat& original, int to);

}  // namespace pelorix::write

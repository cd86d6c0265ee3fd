// SPDX-License-Identifier: MIT
#pragma once
// The audio files of a folder in the order people number them: natural name order (case
// aside, runs of digits by value, so "Track 2" before "Track 10"), folder by folder.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix::lists {

// < 0, 0 or > 0 as `a` sorts before, with or after `b` in natural order (ICU's root collation
// with numeric ordering, case and accents counted only to break ties; then the bytes).
int naturalCompare(std::string_view a, std::string_view b);

// True for the backup copies a write leaves beside a file: "NAME (original).EXT" and
// "NAME (original N).EXT".
bool isBackupName(std::string_view fileName);

struct FolderWalk {
    std::vector<std::filesystem::path> files;   // `folder` / relative path, in order
    std::vector<std::filesystem::path> unread;  // folders that could not be listed
    std::vector<std::string> reasons;           // the platform's words, one per unread folder
};

// Every file under `folder`, at any depth, whose lower-case extension is an audio one: the
// files of a folder in natural order of their names, then its subfolders in natural order,
// each the same way. Hidden entries (names beginning with a dot) and backup copies are left
// out; links to folders are not followed.
FolderWalk audioFilesIn(const std::filesystem::path& folder);

}  // namespace pelorix::lists

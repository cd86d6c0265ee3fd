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

// True for a name a write gives its backup copies: "NAME (original).EXT" and
// "NAME (original N).EXT".
bool isBackupName(std::string_view fileName);
// The name of the file a backup copy was made of ("NAME.EXT"); "" when it is no backup name.
std::string originalOf(std::string_view backupName);

struct FolderWalk {
    std::vector<std::filesystem::path> files;    // `folder` / relative path, in order
    std::vector<std::filesystem::path> backups;  // backup copies left out, in order
    std::vector<std::filesystem::path> unread;   // folders that could not be listed
    std::vector<std::string> reasons;            // the platform's words, one per unread folder
};

// Every file under `folder`, at any depth, whose lower-case extension is an audio one: the
// files of a folder in natural order of their names, then its subfolders in natural order,
// each the same way. Hidden entries (names beginning with a dot) are left out, and so are
// backup copies a write made, provably so: a backup name whose original is beside it (a track
// that is only named like one, "02 Blue Monday (original).wav" alone, is a file like any
// other); they are listed in `backups` for the caller to tell. Links to folders are not
// followed.
FolderWalk audioFilesIn(const std::filesystem::path& folder);

}  // namespace pelorix::lists

// SPDX-License-Identifier: MIT
#pragma once
// A file a write creates beside the original and either moves into place or deletes: the
// temporary file, and a backup until the replace has happened. It goes on every way out: when
// its owner goes, and when SIGINT, SIGTERM or SIGHUP ends the process meanwhile (the handler
// removes every pending file, then the signal takes its default course, so the exit status is
// the signal's). It is named inside the folder open as a descriptor, so a folder renamed
// meanwhile still loses it.

#include <filesystem>
#include <string>

namespace pelorix::write {

// The hidden temporary name beside a file called `name`: ".NAME.pelorix-tmp", where the
// name's length allows; a longer name is cut (at a character's start) and marked with a hash
// of the whole, so that every valid name has one temporary name of its own, and the next
// write of the file finds a crash's leftover by it.
std::string tempNameFor(const std::string& name);
// A temporary name no other program can foresee, for when the usual one is taken by what this
// process may not remove (another user's file in a shared folder, a folder): the usual name
// followed by "-" and 16 random hexadecimal digits.
std::string spareTempNameFor(const std::string& name);
// Whether a folder entry is one of spareTempNameFor(name)'s names.
bool isSpareTempOf(const std::string& entry, const std::string& name);

class PendingFile {
  public:
    // Prepares the removal of `name` in the folder open as `folder` (a descriptor that must
    // outlive this); nothing is removed until arm(). `shown` is the path it is known by.
    PendingFile(int folder, std::string name, std::filesystem::path shown);
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    const std::filesystem::path& path() const { return shown_; }
    const std::string& name() const { return name_; }
    int folder() const { return folder_; }
    // The file at the name is ours, or is about to be: remove it on every way out. Called just
    // before the file is created, so that no signal finds it made and unknown.
    void arm();
    // The file is wanted (moved into place, or a finished backup), or its creation failed and
    // what is at the name is not ours: leave it.
    void keep();

  private:
    int folder_ = -1;
    std::string name_;
    std::filesystem::path shown_;
    int slot_ = -1;  // in the signal handler's table, or -1 when it has no room
    bool armed_ = false;
};

}  // namespace pelorix::write

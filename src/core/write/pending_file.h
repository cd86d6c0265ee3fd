// SPDX-License-Identifier: MIT
#pragma once
// A file a write creates beside the original and either moves into place or deletes: the
// temporary file, and a backup until the replace has happened. It goes on every way out: when
// its owner goes, and when SIGINT, SIGTERM or SIGHUP ends the process meanwhile (the handler
// removes every pending file, then the signal takes its default course, so the exit status is
// the signal's).

#include <filesystem>

namespace pelorix::write {

// The hidden temporary file beside `file`: ".NAME.pelorix-tmp".
std::filesystem::path tempPathFor(const std::filesystem::path& file);

class PendingFile {
  public:
    // Prepares the removal of `path`; nothing is removed until arm(). Call it before creating
    // the file, so the signal handler finds a path made ready outside it.
    explicit PendingFile(std::filesystem::path path);
    ~PendingFile();
    PendingFile(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile& operator=(PendingFile&&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The file at the path is now ours: remove it on every way out.
    void arm();
    // The file is wanted (moved into place, or a finished backup): leave it.
    void keep();

  private:
    std::filesystem::path path_;
    int slot_ = -1;  // in the signal handler's table, or -1 when it has no room
    bool armed_ = false;
};

}  // namespace pelorix::write

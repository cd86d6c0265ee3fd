// SPDX-License-Identifier: MIT
#pragma once
// The original, claimed for the whole of a write: opened once, locked against every other
// PELORIX write of it, leased where the filesystem allows (so that a program opening it for
// writing meanwhile is noticed), and checked for what would make a replacement unsafe.

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "core/io/binary_io.h"
#include "core/io/sys.h"

namespace pelorix::write {

class Claim {
  public:
    // Throws TagError: writeInProgress (another write holds the lock for longer than a short
    // wait), openElsewhere (a program holds the file open for writing), notWritable, hardLinks,
    // cannotLock, or the open's own errors.
    explicit Claim(const std::filesystem::path& target);

    const FileIn& in() const { return *in_; }
    // The folder that holds the file, open for the *at calls of every later step, and the
    // file's name in it.
    int folder() const { return folder_.get(); }
    const std::string& name() const { return name_; }
    const std::filesystem::path& path() const { return path_; }
    // The original as claimed: owner, mode, size, times.
    const struct stat& status() const { return status_; }
    // False where the filesystem or the caller's rights allow no lease; the change check of
    // checkUndisturbed() then stands alone.
    bool leased() const { return leased_; }

    // Throws TagError openElsewhere when a program opened the file for writing since the claim,
    // changedDuringWrite when it was written to, replacedMeanwhile when its name in the folder
    // holds another file, linkedMeanwhile when it gained another name, folderMoved when the
    // path no longer leads to the folder.
    void checkUndisturbed() const;
    // The refusal (one of checkUndisturbed's) for a file found at the name with status `st`
    // in place of the claimed one, or "" when it is the claimed file with its one name.
    std::string_view strangerAtName(const struct stat& st) const;
    // True while the lease holds (or there is none to lose).
    bool leaseHolds() const noexcept;

  private:
    bool lock();
    bool takeLease();

    std::filesystem::path path_;
    sys::Fd folder_;
    std::string name_;
    std::unique_ptr<FileIn> in_;
    sys::Fd writeLock_;  // where the lock needs a descriptor open for writing (NFS)
    struct stat status_ {};
    bool leased_ = false;
};

}  // namespace pelorix::write

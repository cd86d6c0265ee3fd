// SPDX-License-Identifier: MIT
#pragma once
// The one entry point for writing and removing a file's code, with the safety procedure around
// every write: claim (lock, lease, permission), temporary file, read-back, audio check, backup,
// replace. The steps are in write.cpp, each one's details in its own unit beside it. Reading
// is in core/read.

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/formats/format.h"
#include "core/io/binary_io.h"
#include "core/tag_error.h"

namespace pelorix::write {

// What a write did: replaced the file, or found it already as asked (a removal that finds no
// code, a write of the text every carrier already holds) and left it, not a byte changed; or
// (batches) did not write it because the caller's `mayCommit` said no before its replace.
enum class Outcome { written, unchanged, notWritten };

// Writes (code) or removes (none) the code, in every carrier that holds one. On any failure the
// file is left as it was. Refuses (TagError) a file another write holds, one open for writing
// elsewhere, one the caller may not write or whose owner a replacement could not keep, and one
// with other names (hard links). `addAxml`: a WAV without an `axml` chunk gains one.
Outcome writeISRC(const std::filesystem::path& path, const std::optional<std::string>& isrc,
                  bool backup, bool addAxml = false);

// Many writes committed together. Each file's new version is written and checked as
// writeISRC's is; then, a group at a time (a bounded number of files and bytes), all of them
// are made durable with one flush per filesystem, replaced one by one in order (each with the
// checks writeISRC makes just before its replace) and each folder is flushed once. `done` is
// called for every job, strictly in order, once its result is on the disk: with no error, or
// with the one that left its file as it was (or, when only the folder's flush failed, new but
// maybe not yet stored). One failure does not stop the others.
struct BatchJob {
    std::filesystem::path path;
    std::optional<std::string> isrc;
    bool addAxml = false;  // as writeISRC's
    // When set, the file is written only if the code it holds, checked under the write's own
    // claim, is this one (the 12 characters ISRC::code gives; none: no valid code); else the
    // job fails with CodeChanged and the file is left as it was.
    std::optional<std::optional<std::string>> expected = std::nullopt;
};
// A batch job's file holds another code than the caller expected: nothing was written.
class CodeChanged : public TagError {
  public:
    explicit CodeChanged(std::optional<std::string> found);
    const std::optional<std::string>& found() const noexcept { return found_; }

  private:
    std::optional<std::string> found_;  // as BatchJob::expected
};
using BatchReport = std::function<void(std::size_t index, std::exception_ptr error)>;
void writeBatch(const std::vector<BatchJob>& jobs, bool backup, const BatchReport& done);
// As writeBatch, with each job's outcome (meaningful where there is no error). `mayCommit`,
// when given, is asked right before each replace; once it says no, that file and every later
// one is left as it was (no temporary file or backup left behind) and reported with no error
// and Outcome::notWritten. Files replaced before are made durable and reported as usual.
using BatchOutcomeReport =
    std::function<void(std::size_t index, std::exception_ptr error, Outcome outcome)>;
using MayCommit = std::function<bool()>;
void writeBatch(const std::vector<BatchJob>& jobs, bool backup, const BatchOutcomeReport& done,
                const MayCommit& mayCommit = {});

// A write rehearsed: every check writeISRC makes before it creates its temporary file (the
// claim with its lock, lease, rights and links; the folder; the owner a replacement must keep;
// the codec's own refusals, with the new file built and thrown away; with `backup`, a name the
// backup copy can take). Throws what the write would throw; returns the code text the file
// holds now. Creates nothing anyone can see (attributes are tried on an unnamed file).
std::optional<std::string> rehearseWrite(const std::filesystem::path& path,
                                         const std::optional<std::string>& isrc,
                                         bool addAxml = false, bool backup = false);
// Copies the file to the first free "NAME (original).EXT", "NAME (original 2).EXT", ... beside
// it, created exclusively, with its owner and permission bits, flushed to storage. Returns the
// copy's path. Throws TagError or std::system_error.
std::filesystem::path makeBackup(const std::filesystem::path& path);

namespace testing {
// Test only: called with the temporary file's path after the codec has written it (every byte
// in the file, not yet flushed to storage), before any verification. Lets a test play a writer that
// damages the audio. Not thread-safe.
void setAfterWriteHook(std::function<void(const std::filesystem::path& tmp)> hook);
}  // namespace testing

}  // namespace pelorix::write

// SPDX-License-Identifier: MIT
#pragma once
// The one error type of the tag engine and the container codecs. Its what() is the finished,
// user-facing sentence; a caller that needs more than the sentence gets a subclass with the data
// (write::CodeChanged). The messages every part of the engine shares are defined here, once; a
// format's own messages are defined in its unit's header (namespace msg), beside its code.

#include <stdexcept>
#include <string>
#include <string_view>

namespace pelorix {

class TagError : public std::runtime_error {
  public:
    explicit TagError(std::string_view message) : std::runtime_error(std::string(message)) {}

    // Named for the reason, so a throw site says why; every caller treats them alike (it shows
    // the sentence), so they build the same error.
    static TagError unsupported(std::string_view m) { return TagError(m); }
    static TagError malformed(std::string_view m) { return TagError(m); }
    static TagError io(std::string_view m) { return TagError(m); }

    std::string message() const { return what(); }
};

// The complete set of messages. Composite ones are functions.
namespace msg {
inline constexpr std::string_view fileEnded = "The file ended unexpectedly.";
inline constexpr std::string_view tooShortForAudio = "The file is too short to be an audio file.";
inline constexpr std::string_view codeChanged =
    "The file's code is no longer the one expected. The file was not changed.";
inline constexpr std::string_view sha256Unavailable = "SHA-256 is not available.";
inline constexpr std::string_view verifyISRC =
    "Verification failed: the ISRC could not be read back. The file was not changed.";
inline constexpr std::string_view verifyAudio =
    "Verification failed: the audio data would have changed. The file was not changed.";
// Refusals that protect the file from other writers and from the caller's own reach.
inline constexpr std::string_view changedDuringWrite =
    "The file changed while it was being written, so it was not replaced. It is as the other "
    "program left it.";
inline constexpr std::string_view openElsewhere =
    "The file is open in another program that may still write to it. The file was not changed.";
inline constexpr std::string_view writeInProgress =
    "Another write of this file is still in progress. The file was not changed.";
inline constexpr std::string_view cannotLock =
    "This filesystem cannot lock the file against other writes. The file was not changed.";
inline constexpr std::string_view notWritable =
    "You do not have permission to change this file. The file was not changed.";
inline constexpr std::string_view ownerNotKept =
    "The file belongs to another user or group, which a replacement could not keep. The file "
    "was not changed.";
inline constexpr std::string_view hardLinks =
    "The file has other names (hard links), which a replacement would leave on the old "
    "contents. The file was not changed.";
inline constexpr std::string_view replacedMeanwhile =
    "The file was replaced by another program while it was being written. It was not changed.";
inline constexpr std::string_view linkedMeanwhile =
    "The file was given another name (a hard link) while it was being written, which a "
    "replacement would leave on the old contents. The file was not changed.";
inline constexpr std::string_view folderMoved =
    "The folder was moved or renamed while the file was being written. The file was not "
    "changed.";
inline constexpr std::string_view folderKeepsNames =
    "The folder is append-only or immutable, so no file in it can be replaced. The file was "
    "not changed.";
inline constexpr std::string_view backupNameTooLong =
    "The file's name is too long for a backup copy \"NAME (original).EXT\" beside it. Shorten "
    "the name or write without a backup. The file was not changed.";

// `handled`: the formats' names as formats::labels(", ", " and ") gives them.
inline std::string unsupportedType(std::string_view handled) {
    return "This file type is not supported. PELORIX handles " + std::string(handled) + ".";
}
inline std::string cannotOpen(std::string_view platform) {
    return "Cannot open the file: " + std::string(platform);
}
inline std::string cannotWrite(std::string_view platform) {
    return "Cannot write next to the file: " + std::string(platform);
}
// A flag or an extended attribute of the original that its replacement could not take over.
inline std::string flagsNotKept(std::string_view letters) {
    return "The file's attribute flags (" + std::string(letters) +
           ") cannot be kept by a replacement here. The file was not changed.";
}
inline std::string attributeNotKept(std::string_view name) {
    return "The file's extended attribute " + std::string(name) +
           " cannot be kept by a replacement (it needs privileges this run does not have). The "
           "file was not changed.";
}
}  // namespace msg

}  // namespace pelorix

// SPDX-License-Identifier: MIT
#pragma once
// The one error type of the tag engine and the container codecs. Its what() is the finished,
// user-facing sentence; every message the engine can raise is defined here exactly once.

#include <stdexcept>
#include <string>
#include <string_view>

namespace pelorix {

class TagError : public std::runtime_error {
  public:
    enum class Kind { unsupported, malformed, io };

    TagError(Kind kind, std::string_view message)
        : std::runtime_error(std::string(message)), kind_(kind) {}

    static TagError unsupported(std::string_view m) { return TagError(Kind::unsupported, m); }
    static TagError malformed(std::string_view m) { return TagError(Kind::malformed, m); }
    static TagError io(std::string_view m) { return TagError(Kind::io, m); }

    Kind kind() const noexcept { return kind_; }
    std::string message() const { return what(); }

  private:
    Kind kind_;
};

// The complete set of messages. Composite ones are functions.
namespace msg {
inline constexpr std::string_view fileEnded = "The file ended unexpectedly.";
inline constexpr std::string_view tooShortForAudio = "The file is too short to be an audio file.";
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
inline constexpr std::string_view tooShort = "The file is too short.";
inline constexpr std::string_view notWAV = "Not a valid WAV file.";
inline constexpr std::string_view notAIFF = "Not a valid AIFF file.";
inline constexpr std::string_view unfinishedRecording =
    "The file looks like an unfinished recording: its audio chunk does not say where the audio "
    "ends.";
inline constexpr std::string_view chunksDamaged =
    "The chunks of this file do not follow one another cleanly to its end.";
inline constexpr std::string_view notFLAC = "Not a valid FLAC file.";
inline constexpr std::string_view flacTruncated = "The FLAC metadata is truncated.";
inline constexpr std::string_view flacCommentDamaged = "The FLAC comment block is damaged.";
inline constexpr std::string_view flacCueSheetTracks =
    "The FLAC cue sheet holds codes of several tracks, which PELORIX does not change.";
inline constexpr std::string_view flacCommentTooLarge =
    "The FLAC comment block would become too large.";
inline constexpr std::string_view id3Truncated = "The ID3 tag is truncated.";
inline constexpr std::string_view id3Damaged = "The ID3 tag is damaged.";
inline constexpr std::string_view id3CodeTooLarge =
    "The ID3 tag holds an ISRC field of more than 1 MiB, which is no code; PELORIX does not "
    "read or change it.";
inline constexpr std::string_view apeCode =
    "The file also holds a code in an APEv2 tag, which PELORIX does not change.";
inline constexpr std::string_view apeDamaged = "The APEv2 tag at the end of the file is damaged.";
inline constexpr std::string_view mp4Layout = "This MP4 file has an unrecognised metadata layout.";
inline constexpr std::string_view mp4Damaged = "The MP4 structure is damaged.";
inline constexpr std::string_view mp4NoMoov = "The MP4 file has no 'moov' atom.";
inline constexpr std::string_view mp4HeaderLarge = "The MP4 header is unusually large.";
inline constexpr std::string_view mp4OffsetsDamaged = "The MP4 chunk offset table is damaged.";
inline constexpr std::string_view axmlDamaged = "The axml chunk is not well-formed XML.";
inline constexpr std::string_view mp4TooLarge = "This MP4 file is too large for the edit.";

// Refusals of outputs whose size fields cannot describe them.
inline constexpr std::string_view id3TooLarge = "The ID3 tag would become too large to be stored.";
inline constexpr std::string_view chunkFileTooLarge =
    "The file would become too large for its 32-bit size fields.";

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
inline std::string id3Version(unsigned major) {
    return "This file has an ID3v2." + std::to_string(major) +
           " tag. PELORIX supports ID3v2.3 and ID3v2.4 only.";
}
}  // namespace msg

}  // namespace pelorix

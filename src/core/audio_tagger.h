#pragma once
// The one entry point for reading, writing and removing a file's code, with the safety
// procedure around every write: temporary file, read-back, audio check, backup, replace.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/audio_format.h"
#include "core/binary_io.h"

namespace pelorix::AudioTagger {

// The stored code text exactly as the container holds it, or none. Throws TagError or
// std::system_error.
std::optional<std::string> readISRC(const std::filesystem::path& path);

// Writes (code) or removes (none) the code. On any failure the file is left as it was.
void writeISRC(const std::filesystem::path& path, const std::optional<std::string>& isrc,
               bool backup);

// Where the audio of an open file lies, per format.
std::vector<ByteRange> audioRanges(const FileIn& in, AudioFormat format);

// SHA-256 of the audio bytes: 64 lower-case hexadecimal digits.
std::string fingerprint(const std::filesystem::path& path, AudioFormat format);

}  // namespace pelorix::AudioTagger

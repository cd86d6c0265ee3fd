// SPDX-License-Identifier: MIT
#pragma once
// Reading a file's code: the code its main carrier holds, every place it holds one, and where
// its audio lies. Nothing here writes; the safe write is in core/write.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/formats/carrier.h"
#include "core/formats/format.h"
#include "core/io/binary_io.h"

namespace pelorix::read {

// The stored code text exactly as the container holds it, or none. Throws TagError or
// std::system_error.
std::optional<std::string> readISRC(const std::filesystem::path& path);
// As readISRC, with the container found.
struct Reading {
    formats::AudioFormat format;
    std::optional<std::string> code;
};
Reading read(const std::filesystem::path& path);

// Every place the file holds a code, with its text, in file order. Throws as readISRC.
formats::Carriers carriers(const std::filesystem::path& path);

// SHA-256 of the audio bytes: 64 lower-case hexadecimal digits.
std::string fingerprint(const std::filesystem::path& path, formats::AudioFormat format);

}  // namespace pelorix::read

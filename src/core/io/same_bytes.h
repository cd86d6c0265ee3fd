// SPDX-License-Identifier: MIT
#pragma once
// Comparing two files' bytes a piece at a time, through two buffers used over and over.

#include <cstdint>
#include <optional>

#include "core/io/binary_io.h"

namespace pelorix {

// Whether `length` bytes of `a` at `offsetA` equal those of `b` at `offsetB`. None when one of
// them ends before (it shrank under the comparison): the caller then reads them the way it
// reads the rest, and sees what is there. Read errors throw std::system_error.
//
// Copying the kernel's cached pages into two small buffers that stay in the processor's cache
// costs less than mapping them: on the benchmark's machine a cached 1 GiB comparison took 0.13 s
// this way and 0.8 s through mappings of 4 MiB, whose page faults dominate.
std::optional<bool> sameBytes(const FileIn& a, std::uint64_t offsetA, const FileIn& b,
                              std::uint64_t offsetB, std::uint64_t length);

}  // namespace pelorix

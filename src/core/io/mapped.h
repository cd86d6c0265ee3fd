// SPDX-License-Identifier: MIT
#pragma once
// Comparing two files' bytes where the kernel keeps them, without copying them out first.

#include <cstdint>
#include <optional>

namespace pelorix::mapped {

// Whether `length` bytes of `fdA` at `offsetA` equal those of `fdB` at `offsetB`, compared
// through read-only mappings of both files, a few MiB at a time. None when the files cannot be
// mapped, or when one of them shrank under the comparison (its mapping faults): the caller then
// reads them, and sees what is there.
std::optional<bool> sameBytes(int fdA, std::uint64_t offsetA, int fdB, std::uint64_t offsetB,
                              std::uint64_t length);

}  // namespace pelorix::mapped

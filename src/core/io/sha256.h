// SPDX-License-Identifier: MIT
#pragma once
// SHA-256 with incremental update, over OpenSSL's EVP interface (SHA-NI where the CPU has it).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelorix {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const std::uint8_t* data, std::size_t size);
    void update(const std::vector<std::uint8_t>& b) { update(b.data(), b.size()); }
    std::array<std::uint8_t, 32> digest();
    // 64 lower-case hexadecimal digits.
    std::string hexDigest();

  private:
    struct Ctx;
    std::unique_ptr<Ctx> ctx_;
};

std::string toHex(const std::uint8_t* data, std::size_t size);

// The digest of a whole buffer as 64 lower-case hexadecimal digits.
std::string sha256Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace pelorix

// SPDX-License-Identifier: MIT
#include "core/io/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>
#include <string>

#include "core/tag_error.h"

namespace pelorix {

struct Sha256::Ctx {
    EVP_MD_CTX* md = nullptr;
    ~Ctx() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : ctx_(std::make_unique<Ctx>()) {
    ctx_->md = EVP_MD_CTX_new();
    if (!ctx_->md || EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error(std::string(msg::sha256Unavailable));
    }
}

Sha256::~Sha256() = default;

void Sha256::update(const std::uint8_t* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(ctx_->md, data, size);
}

std::array<std::uint8_t, 32> Sha256::digest() {
    std::array<std::uint8_t, 32> out{};
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_->md, out.data(), &len);
    return out;
}

std::string Sha256::hexDigest() {
    auto d = digest();
    return toHex(d.data(), d.size());
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 0x0F];
    }
    return s;
}

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
    Sha256 h;
    h.update(bytes);
    return h.hexDigest();
}

}  // namespace pelorix

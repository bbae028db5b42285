#include "common/sha256.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace pavo::common {

std::string sha256Hex(std::string_view data, std::size_t bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length < 32) {
        throw std::runtime_error("SHA-256 is not available");
    }
    bytes = std::min<std::size_t>(bytes, 32);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex(2 * bytes, '0');
    for (std::size_t i = 0; i < bytes; ++i) {
        hex[2 * i] = kHex[digest[i] >> 4];
        hex[2 * i + 1] = kHex[digest[i] & 0xF];
    }
    return hex;
}

}  // namespace pavo::common

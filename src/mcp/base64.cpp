#include "mcp/base64.hpp"

#include <openssl/evp.h>

namespace pavo::mcp {

std::string base64Encode(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    // EVP_EncodeBlock takes an int length; pictures are far below that, but feed it in pieces regardless.
    constexpr std::size_t kPiece = 3 * (1 << 20);
    std::size_t written = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPiece) {
        const std::string_view piece = bytes.substr(offset, kPiece);
        written += static_cast<std::size_t>(EVP_EncodeBlock(
            reinterpret_cast<unsigned char*>(text.data() + written),
            reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size())));
    }
    text.resize(written);
    return text;
}

}  // namespace pavo::mcp

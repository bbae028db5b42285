#include "common/base64.hpp"

#include <openssl/evp.h>

#include <array>
#include <cstdint>

namespace pavo::common {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decodingTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kValues = decodingTable();

}  // namespace

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    const std::string_view digits = text.substr(0, text.size() - padding);

    std::string bytes;
    bytes.reserve(digits.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : digits) {
        const std::int8_t value = kValues[static_cast<unsigned char>(c)];
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            bytes.push_back(static_cast<char>(bits >> 16));
            bytes.push_back(static_cast<char>(bits >> 8));
            bytes.push_back(static_cast<char>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) bytes.push_back(static_cast<char>(bits >> 4));
    if (count == 3) {
        bytes.push_back(static_cast<char>(bits >> 10));
        bytes.push_back(static_cast<char>(bits >> 2));
    }
    return bytes;
}

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

}  // namespace pavo::common

#pragma once
// Base64 with the standard alphabet and padding, read strictly: any other character (line breaks and
// spaces included) or a length that is not a multiple of four makes the text undecodable (OpenSSL's decoder
// skips whitespace and keeps padding bytes, so decoding is our own).

#include <optional>
#include <string>
#include <string_view>

namespace pavo::common {

std::optional<std::string> base64Decode(std::string_view text);
std::string base64Encode(std::string_view bytes);

}  // namespace pavo::common

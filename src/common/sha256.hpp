#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pavo::common {

// SHA-256 of the bytes as lower-case hexadecimal: the first `bytes` bytes of the digest (all 32 by
// default). Throws std::runtime_error when the digest is not available.
std::string sha256Hex(std::string_view data, std::size_t bytes = 32);

}  // namespace pavo::common

#pragma once
// Where a request's image bytes come from, and the digest that names them in the OCR cache.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pavo::agent {

// As large as a request body may be: a file bigger than any image a caller could send inline is refused
// rather than read into memory (and a device or pipe that never ends is not read at all).
inline constexpr std::size_t kMaxImageFileBytes = std::size_t{64} << 20;

// The bytes `base64` decodes to when it decodes; otherwise the contents of the regular file at `path` when
// it can be read; otherwise nothing.
std::optional<std::string> imageBytes(const std::optional<std::string>& base64,
                                      const std::optional<std::string>& path);

// SHA-256 of the bytes as 64 lower-case hexadecimal digits.
std::string sha256HashData(std::string_view bytes);

}  // namespace pavo::agent

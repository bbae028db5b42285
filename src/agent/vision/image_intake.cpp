#include "agent/vision/image_intake.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/base64.hpp"
#include "common/sha256.hpp"

namespace pavo::agent {

namespace {

std::optional<std::string> readImageFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxImageFileBytes) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(size));
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    // A file that grew meanwhile is read no further than it was; one that shrank gives what it holds.
    if (file.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::string> imageBytes(const std::optional<std::string>& base64,
                                      const std::optional<std::string>& path) {
    if (base64) {
        if (auto bytes = common::base64Decode(*base64)) return bytes;
    }
    if (path) return readImageFile(*path);
    return std::nullopt;
}

std::string sha256HashData(std::string_view bytes) {
    return common::sha256Hex(bytes);
}

}  // namespace pavo::agent

// Arbitrary paths resolved against the overlay's base URL: whatever comes back stays on the overlay's
// origin and is safe to put on a request line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/overlay_client.hpp"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const pavo::agent::OverlayClient client(47825, "token");
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const auto url = client.makeURL(path);
    if (!url) return 0;
    const std::string origin = "http://127.0.0.1:47825";
    check(url->rfind(origin, 0) == 0);
    const char next = url->size() > origin.size() ? (*url)[origin.size()] : '/';
    check(next == '/' || next == '?' || next == '#');
    for (const char c : *url) {
        const auto u = static_cast<unsigned char>(c);
        check(u > 0x20 && u < 0x7F);
    }
    return 0;
}

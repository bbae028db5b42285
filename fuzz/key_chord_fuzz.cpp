// Arbitrary bytes as chord tokens and as text to type: never a crash, only known keys and modifier bits,
// and splitting text into characters loses and invents nothing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/keys/key_chord.hpp"
#include "agent/keys/key_codes.hpp"
#include "common/modifier_flags.hpp"
#include "common/text.hpp"

namespace {

using namespace pavo::agent;

void check(bool condition) {
    if (!condition) std::abort();
}

namespace modifier = pavo::common::modifier;
constexpr std::uint64_t kAllModifiers =
    modifier::shift | modifier::control | modifier::option | modifier::command | modifier::function;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    if (const auto press = tokenToKeyPress(bytes)) {
        check((press->flags & ~kAllModifiers) == 0);
        check(press->keyCode <= 126 && press->keyCode != 10);
    }

    if (pavo::common::isValidUtf8(bytes)) {
        std::string joined;
        for (const std::string& character : pavo::common::splitCharacters(bytes)) {
            check(!character.empty());
            joined += character;
            // A character the table knows is always one byte, and never carries a modifier but shift.
            if (const auto press = keyCodeForCharacter(character)) {
                check(character.size() == 1 && (press->flags & ~modifier::shift) == 0);
            }
        }
        check(joined == bytes);
    }
    return 0;
}

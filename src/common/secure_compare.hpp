#pragma once

#include <string_view>

namespace pavo::common {

// Equal in length and content, compared in time that does not depend on where they differ, so a reply's
// timing never tells a guesser how much of a secret was right.
bool constantTimeEquals(std::string_view presented, std::string_view secret);

}  // namespace pavo::common

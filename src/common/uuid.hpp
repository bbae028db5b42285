#pragma once

#include <string>

namespace pavo::common {

// A random (version 4) UUID in canonical upper-case text, 8-4-4-4-12 hexadecimal digits, from the
// cryptographic generator: the ids it makes must not be guessable. Throws std::runtime_error when the
// generator cannot deliver.
std::string randomUUID();

}  // namespace pavo::common

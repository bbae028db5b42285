#include "common/secure_compare.hpp"

#include <openssl/crypto.h>

namespace pavo::common {

bool constantTimeEquals(std::string_view presented, std::string_view secret) {
    if (presented.size() != secret.size()) return false;
    return CRYPTO_memcmp(presented.data(), secret.data(), secret.size()) == 0;
}

}  // namespace pavo::common

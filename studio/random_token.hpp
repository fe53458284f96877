#pragma once

#include <string>

namespace quorvel::studio {

// 256 bits from the system's random source (getrandom or /dev/urandom;
// BCryptGenRandom on Windows) as 64 lowercase hex digits. Throws
// std::runtime_error when the source cannot be read: a guessable token
// would open the studio to every page the browser shows.
std::string MakeToken();

}  // namespace quorvel::studio

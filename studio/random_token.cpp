#include "studio/random_token.hpp"

#include <array>
#include <cstdint>
#include <stdexcept>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#else
#include <unistd.h>

#include <cerrno>
#include <sys/random.h>
#endif

namespace quorvel::studio {
namespace {

constexpr std::size_t kTokenBytes = 32;

void FillRandom(std::array<std::uint8_t, kTokenBytes>& bytes)
{
#ifdef _WIN32
    if (::BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG) !=
        0) {
        throw std::runtime_error("the system's random source (BCryptGenRandom) failed");
    }
#elif !defined(__linux__)
    if (::getentropy(bytes.data(), bytes.size()) != 0) {
        throw std::runtime_error("the system's random source (getentropy) failed");
    }
#else
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("the system's random source (getrandom) failed");
        }
        filled += static_cast<std::size_t>(got);
    }
#endif
}

}  // namespace

std::string MakeToken()
{
    std::array<std::uint8_t, kTokenBytes> bytes{};
    FillRandom(bytes);
    constexpr char kDigits[] = "0123456789abcdef";
    std::string token;
    for (const std::uint8_t byte : bytes) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 0xF];
    }
    return token;
}

}  // namespace quorvel::studio

#include "app/replacement_check.hpp"

#include <array>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;
// Chunks before the data are few in any real sound: a file with more is
// not walked to its end.
constexpr int kMostChunks = 10000;

std::uint32_t Load(const std::byte* bytes, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

// Reads exactly `out.size()` bytes at `offset`, or says it could not.
bool ReadExactly(InputFile& file, std::uint64_t offset, std::span<std::byte> out)
{
    std::size_t got = 0;
    while (got < out.size()) {
        const std::size_t count = file.ReadAt(offset + got, out.subspan(got));
        if (count == 0) {
            return false;
        }
        got += count;
    }
    return true;
}

std::optional<std::string> FormatProblem(const std::array<std::byte, 16>& fmt)
{
    const auto tag = static_cast<std::uint16_t>(Load(&fmt[0], 2));
    const std::uint32_t channels = Load(&fmt[2], 2);
    const std::uint32_t rate = Load(&fmt[4], 4);
    const std::uint32_t byte_rate = Load(&fmt[8], 4);
    const std::uint32_t block_align = Load(&fmt[12], 2);
    const std::uint32_t bits = Load(&fmt[14], 2);
    if (channels == 0 || rate == 0 || block_align == 0) {
        return "its fmt chunk says " + std::to_string(channels) + " channels, " + std::to_string(rate) +
               " Hz and blocks of " + std::to_string(block_align) + " bytes";
    }
    if (tag == kPcm || tag == kFloat || tag == kExtensible) {
        const std::uint32_t frame = channels * ((bits + 7) / 8);
        if (bits == 0 || block_align != frame || byte_rate != rate * block_align) {
            return "its fmt chunk does not add up: " + std::to_string(channels) + " channels of " +
                   std::to_string(bits) + " bits make frames of " + std::to_string(frame) + " bytes, it says " +
                   std::to_string(block_align) + ", and " + std::to_string(byte_rate) + " bytes a second at " +
                   std::to_string(rate) + " Hz";
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ReplacementProblem(InputFile& file, const std::string& name)
{
    const std::uint64_t size = file.Size();
    std::array<std::byte, 12> riff{};
    if (!ReadExactly(file, 0, riff) || std::memcmp(riff.data(), "RIFF", 4) != 0 ||
        std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        return name + " is not a WAV file (one starts with RIFF and WAVE): export the sound as WAV";
    }
    bool has_format = false;
    std::uint64_t at = 12;
    for (int chunk = 0; chunk < kMostChunks; ++chunk) {
        std::array<std::byte, 8> header{};
        if (!ReadExactly(file, at, header)) {
            break;
        }
        const std::string id(reinterpret_cast<const char*>(header.data()), 4);
        const std::uint64_t declared = Load(&header[4], 4);
        const std::uint64_t body = at + 8;
        const std::uint64_t holds = size - body;
        if (id == "fmt ") {
            std::array<std::byte, 16> fmt{};
            if (declared < fmt.size() || !ReadExactly(file, body, fmt)) {
                return name + " has a fmt chunk too short to say its format: export it again";
            }
            if (const auto problem = FormatProblem(fmt)) {
                return name + ": " + *problem + ": export it again";
            }
            has_format = true;
        } else if (id == "data") {
            if (!has_format) {
                return name + " has no fmt chunk before its data: export it again";
            }
            if (declared > holds) {
                return name + " is cut short: its data chunk declares " + std::to_string(declared) +
                       " bytes and the file holds " + std::to_string(holds) + ": export it again";
            }
            return std::nullopt;
        }
        if (declared > holds) {
            return name + " is cut short: its \"" + id + "\" chunk declares " + std::to_string(declared) +
                   " bytes and the file holds " + std::to_string(holds) + ": export it again";
        }
        at = body + declared + (declared % 2);
    }
    return name + (has_format ? " has no data chunk" : " has neither a fmt nor a data chunk") +
           ": it holds no sound; export it again";
}

}  // namespace quorvel

#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace quorvel::testing {

// Writes archive bytes the way a test reads best: blocks, raw length
// fields, RIFF headers and plain text, in order.
class ArchiveBytes {
public:
    ArchiveBytes& Block(std::string_view payload)
    {
        return Int32(static_cast<std::int32_t>(payload.size() + 4)).Text(payload);
    }
    ArchiveBytes& Int32(std::int32_t value)
    {
        const auto bits = static_cast<std::uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<std::byte>(bits >> shift));
        }
        return *this;
    }
    ArchiveBytes& Text(std::string_view text)
    {
        for (const char c : text) {
            bytes_.push_back(static_cast<std::byte>(c));
        }
        return *this;
    }
    ArchiveBytes& Final() { return Int32(0); }

    std::string_view View() const { return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()}; }
    std::string Str() const { return std::string(View()); }
    const std::vector<std::byte>& Bytes() const { return bytes_; }

private:
    std::vector<std::byte> bytes_;
};

// A RIFF header: "RIFF", the declared size and the form type.
inline std::string RiffHeader(std::int32_t declared_size, std::string_view form_type = "WAVE")
{
    return ArchiveBytes().Text("RIFF").Int32(declared_size).Text(form_type).Str();
}

// A well-formed sound of `length` bytes (at least 12): its size field is
// its length - 8, and its samples never contain "RIFF".
inline std::string Sound(std::size_t length, char fill = 'a')
{
    return RiffHeader(static_cast<std::int32_t>(length - 8)) + std::string(length - 12, fill);
}

}  // namespace quorvel::testing

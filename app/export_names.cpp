#include "app/export_names.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace quorvel {
namespace {

constexpr std::string_view kRefused = "/\\:*?\"<>|";

// Names Windows takes for devices whatever the extension, in any case (the
// superscript digits one to three count as digits).
constexpr std::array<std::string_view, 32> kDeviceNames = {
    "CON",  "PRN",  "AUX",         "NUL",         "CONIN$",      "CONOUT$",     "COM0",        "COM1",
    "COM2", "COM3", "COM4",        "COM5",        "COM6",        "COM7",        "COM8",        "COM9",
    "LPT0", "LPT1", "LPT2",        "LPT3",        "LPT4",        "LPT5",        "LPT6",        "LPT7",
    "LPT8", "LPT9", "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3",
};

// The length of the UTF-8 sequence at the start of `text`, and its code
// point; 0 when it is not one (a stray continuation, an overlong form, a
// surrogate, past U+10FFFF, cut short).
std::size_t SequenceAt(std::string_view text, std::uint32_t& code)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0FU;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07U;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0U) != 0x80U) {
            return 0;
        }
        code = (code << 6) | (next & 0x3FU);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsControl(std::uint32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Every character kept or replaced by "_", every byte that is not UTF-8 too.
std::string Replaced(std::string_view name)
{
    std::string safe;
    while (!name.empty()) {
        std::uint32_t code = 0;
        const std::size_t length = SequenceAt(name, code);
        if (length == 0 || IsControl(code) ||
            (code < 0x80 && kRefused.find(static_cast<char>(code)) != std::string_view::npos)) {
            safe += '_';
        } else {
            safe += name.substr(0, length);
        }
        name.remove_prefix(std::max<std::size_t>(length, 1));
    }
    return safe;
}

// Cut to `most` bytes at a character's end, without dots and spaces at the end.
std::string Finished(std::string name, std::size_t most)
{
    if (name.size() > most) {
        std::size_t end = most;
        while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0U) == 0x80U) {
            --end;  // into the middle of a character: back to its start
        }
        name.resize(end);
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        name.pop_back();
    }
    return name.empty() ? "_" : name;
}

bool IsDeviceName(std::string_view name)
{
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    const auto same = [stem](std::string_view device) {
        return stem.size() == device.size() && std::equal(stem.begin(), stem.end(), device.begin(), [](char a, char b) {
                   return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
               });
    };
    return std::any_of(kDeviceNames.begin(), kDeviceNames.end(), same);
}

}  // namespace

std::string SafeFileName(std::string_view name, std::string_view extension, std::size_t most_bytes)
{
    const std::size_t most = most_bytes > extension.size() + 2 ? most_bytes - extension.size() - 1 : 1;
    std::string safe = Finished(Replaced(name), most);
    if (IsDeviceName(safe)) {
        safe = Finished("_" + safe, most);
    }
    return safe + "." + std::string(extension);
}

std::string ExportFileName(std::string_view stem, std::string_view label, std::string_view extension)
{
    return SafeFileName(label.empty() ? std::string(stem) : std::string(stem) + " " + std::string(label), extension);
}

}  // namespace quorvel

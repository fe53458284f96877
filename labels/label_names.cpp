#include "labels/label_names.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "labels/labels_file.hpp"

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
        const std::size_t length = Utf8SequenceAt(name, code);
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

std::string DownloadName(std::int64_t number, std::string_view extension, std::string_view label)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%04lld ", static_cast<long long>(number));
    // The extension is given with its dot, or empty for a file that has none.
    const std::string_view bare = extension.starts_with('.') ? extension.substr(1) : extension;
    std::string name = SafeFileName(digits + std::string(label), bare.empty() ? "x" : bare);
    if (bare.empty()) {
        name.resize(name.size() - 2);  // the stand-in extension, made only to be cut
    }
    return name;
}

}  // namespace quorvel

#include "studio/text_file.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "studio/random_token.hpp"

namespace quorvel::studio {

std::filesystem::path PathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::optional<std::string> ReadTextFile(const std::filesystem::path& path, std::uintmax_t limit)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return std::nullopt;
    }
    const std::string name = Utf8FromPath(path);
    if (error) {
        throw std::runtime_error(name + ": " + error.message());
    }
    if (!std::filesystem::is_regular_file(status)) {
        throw std::runtime_error(name + ": not a regular file");
    }
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
        throw std::runtime_error(name + ": " + error.message());
    }
    if (size > limit) {
        throw std::runtime_error(name + ": larger than " + std::to_string(limit) + " bytes");
    }
    std::ifstream in(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size()))) {
        throw std::runtime_error(name + ": cannot be read");
    }
    return text;
}

std::filesystem::path TemporaryBeside(const std::filesystem::path& path)
{
    std::filesystem::path temporary = path;
    temporary += PathFromUtf8(".tmp-" + MakeToken().substr(0, 16));
    return temporary;
}

void ReplaceFile(const std::filesystem::path& path, std::string_view text)
{
    const std::filesystem::path temporary = TemporaryBeside(path);
    const std::string name = Utf8FromPath(path);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error(Utf8FromPath(temporary) + ": cannot be created: " + std::strerror(errno));
        }
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            throw std::runtime_error(name + ": cannot be written (is the disk full?)");
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error(name + ": cannot be replaced: " + error.message());
    }
}

}  // namespace quorvel::studio

#include "extract/output_names.hpp"

namespace quorvel {

std::string EntryFileName(std::string_view archive, std::int64_t number, std::string_view extension)
{
    std::string digits = std::to_string(number);
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), '0');
    }
    std::string file_name(archive);
    file_name += '_';
    file_name += digits;
    file_name += extension;
    return file_name;
}

std::string ListedPath(std::string_view archive, std::string_view file_name)
{
    std::string path(archive);
    path += '/';
    path += file_name;
    return path;
}

std::optional<ListedName> SplitListedPath(std::string_view path)
{
    const auto slash = path.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == path.size()) {
        return std::nullopt;
    }
    return ListedName{.archive = path.substr(0, slash), .file_name = path.substr(slash + 1)};
}

}  // namespace quorvel

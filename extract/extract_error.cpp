#include "extract/extract_error.hpp"

namespace quorvel {

std::string Failure::Describe() const
{
    std::string text = "Error " + std::to_string(number) + ": " + description;
    if (!file.empty()) {
        text += (file_is_a_folder ? "\nFolder: " : "\nFile: ") + file;
    }
    if (offset) {
        text += "\nOffset: " + std::to_string(*offset);
    }
    return text;
}

ExtractError::ExtractError(Failure failure) : std::runtime_error(failure.Describe()), failure_(std::move(failure)) {}

}  // namespace quorvel

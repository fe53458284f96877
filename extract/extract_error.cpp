#include "extract/extract_error.hpp"

namespace quorvel {

std::string Failure::Describe() const
{
    std::string text =
        kind == FailureKind::kSystem ? "Error " + std::to_string(number) + ": " + description : description;
    if (!file.empty()) {
        text += (file_is_a_folder ? "\nFolder: " : "\nFile: ") + file;
    }
    if (offset) {
        text += "\nOffset: " + std::to_string(*offset);
    }
    return text;
}

std::string Failure::OneLine() const
{
    std::string text;
    if (!file.empty()) {
        text = file;
        if (offset) {
            text += " (offset " + std::to_string(*offset) + ")";
        }
        text += ": ";
    }
    text += description;
    if (kind == FailureKind::kSystem) {
        text += " (error " + std::to_string(number) + ")";
    }
    return text;
}

void ThrowNotAFile(const std::string& path, std::string description)
{
    throw ExtractError(Failure{.kind = FailureKind::kNotAFile, .description = std::move(description), .file = path});
}

ExtractError::ExtractError(Failure failure) : std::runtime_error(failure.Describe()), failure_(std::move(failure)) {}

}  // namespace quorvel

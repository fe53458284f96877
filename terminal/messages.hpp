#pragma once

#include <cstdio>
#include <string_view>

#include "extract/extract_error.hpp"

namespace quorvel {

// The name every message line of the terminal program starts with.
inline constexpr std::string_view kProgramName = "quorvel-extractor";

// "quorvel-extractor: TEXT", on a line of its own.
void PrintMessage(std::FILE* stream, std::string_view text);
void PrintError(std::FILE* stream, const Failure& failure);
void PrintWarning(std::FILE* stream, std::string_view text);

}  // namespace quorvel

#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "extract/extract_error.hpp"

namespace quorvel {

// The name every message line of the terminal program starts with.
inline constexpr std::string_view kProgramName = "quorvel-extractor";

// "quorvel-extractor: TEXT\n": a message line of the terminal program.
std::string MessageLine(std::string_view text);
// The same for a warning: "quorvel-extractor: warning: TEXT\n".
std::string WarningLine(std::string_view text);

// A message line written to `stream` at once.
void PrintMessage(std::FILE* stream, std::string_view text);
void PrintError(std::FILE* stream, const Failure& failure);
void PrintWarning(std::FILE* stream, std::string_view text);

}  // namespace quorvel

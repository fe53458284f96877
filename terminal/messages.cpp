#include "terminal/messages.hpp"

#include <string>

namespace quorvel {

std::string MessageLine(std::string_view text)
{
    std::string line(kProgramName);
    line += ": ";
    line += text;
    line += '\n';
    return line;
}

std::string WarningLine(std::string_view text)
{
    return MessageLine("warning: " + std::string(text));
}

void PrintMessage(std::FILE* stream, std::string_view text)
{
    const std::string line = MessageLine(text);
    // A message that cannot be written has nowhere else to go.
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

void PrintError(std::FILE* stream, const Failure& failure)
{
    PrintMessage(stream, failure.OneLine());
}

void PrintWarning(std::FILE* stream, std::string_view text)
{
    const std::string line = WarningLine(text);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace quorvel

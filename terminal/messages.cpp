#include "terminal/messages.hpp"

#include <string>

namespace quorvel {

void PrintMessage(std::FILE* stream, std::string_view text)
{
    std::string line(kProgramName);
    line += ": ";
    line += text;
    line += '\n';
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
    PrintMessage(stream, "warning: " + std::string(text));
}

}  // namespace quorvel

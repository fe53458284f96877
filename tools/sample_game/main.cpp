// quorvel-make-sample: writes a generated game folder (sfx.pak and
// speech.pak) for trying out, testing and measuring the extractor.

#include <iostream>
#include <string_view>
#include <vector>

#include "tools/sample_game/command_line.hpp"

int main(int argc, char** argv)
{
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    return quorvel::sample::MakeSampleMain(arguments, std::cout, std::cerr);
}

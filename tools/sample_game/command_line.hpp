#pragma once

// The command quorvel-make-sample, apart from main() so that tests can run it.

#include <iosfwd>
#include <span>
#include <string_view>

namespace quorvel::sample {

// Runs the command on `arguments` (the program name left out) and returns
// its exit status: 0 written, 1 failed, 2 bad usage.
int MakeSampleMain(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err);

}  // namespace quorvel::sample

#pragma once

#include <optional>
#include <string>

#include "extract/file_system.hpp"

namespace quorvel {

// What is wrong with a WAV file offered as a sound's new file, said with
// the way out ("new.wav is cut short: its data chunk declares 696000 bytes
// and the file holds 348000: export it again"), or nothing when it is a
// whole sound: RIFF and WAVE, a "fmt " chunk whose numbers agree with each
// other, and a "data" chunk that the file holds whole. `name` names the
// file in the answer.
std::optional<std::string> ReplacementProblem(InputFile& file, const std::string& name);

}  // namespace quorvel

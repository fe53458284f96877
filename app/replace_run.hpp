#pragma once

// New sounds put in the place of the game's, each fitted to the very sound
// it replaces (its format, its loudness, its loops): from the terminal
// (--replace, --replace-list) and, one at a time, from the studio.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/game_folder.hpp"
#include "audio/sound_replacement.hpp"

namespace quorvel {

// One replacement asked for: the sound as the user named it (a listed path
// "speech/speech_0018.wav", an archive's number "speech:18", or, in a list,
// a label that names exactly one sound) and the new sound's file.
struct ReplacementAsked {
    std::string sound;
    std::string file;
};

// A --replace-list: one SOUND<TAB>FILE a line; "#" lines and blank lines
// are comments. Throws ExtractError naming the list and the line.
std::vector<ReplacementAsked> ParseReplaceList(std::string_view text, const std::string& list);

// The listed sound a name stands for. Throws ExtractError (kRefused) saying
// why none does: no such path or number, a file that is not a sound, a
// label no sound or several sounds have.
const ListedFile& FindSound(const GameReader& game, const std::string& name,
                            const std::map<std::string, std::string>& labels);

// `new_sound` fitted to `sound`, read from its archive; nothing is written.
// Throws audio::SoundError.
audio::FittedSound FitToSound(std::shared_ptr<const GameReader> game, const ListedFile& sound, InputFile& new_sound,
                              const std::string& new_name, const audio::ReplacementOptions& options);

// Makes the fitted sound `sound`'s file in the output folder, as a swap
// does: the archive extracted there first where it has not been, and the
// pack's own checks deciding (PackRefused: nothing is changed).
void SwapInFitted(GameFolder& game, const ListedFile& sound, audio::FittedSound& fitted, RunListener& listener);

// What a replacement run tells, sound by sound. Progress may stop it.
class ReplaceReport : public RunListener {
public:
    // Told before anything of that sound changes.
    virtual void Fitted(const ListedFile& sound, const audio::ReplacementReport& report) = 0;
    virtual void Replaced(const ListedFile& sound, const std::string& path) = 0;
    // That sound was left as it was; the others go on.
    virtual void NotReplaced(const ReplacementAsked& asked, const Failure& failure) = 0;
};

struct ReplaceRequest {
    std::vector<ReplacementAsked> asked;
    audio::ReplacementOptions fitting;
    bool dry_run = false;  // fit and report, change nothing
    // Labels by listed path, for sounds named by their label.
    std::map<std::string, std::string> labels;
};

// Each asked replacement in turn: the sound found, the new file fitted to it
// and reported, then (unless a dry run) made its file in the output folder.
// Completed when every one was, failed when one was not, cancelled when
// stopped (what was replaced before stays).
RunEnd ReplaceRun(GameFolder& game, const ReplaceRequest& request, ReplaceReport& report);

}  // namespace quorvel

#include "app/replace_run.hpp"

#include <charconv>

#include "audio/sound_decoder.hpp"
#include "extract/output_names.hpp"

namespace quorvel {
namespace {

[[noreturn]] void Refuse(std::string file, std::string why)
{
    throw ExtractError(Failure{.kind = FailureKind::kRefused, .description = std::move(why), .file = std::move(file)});
}

// "speech:18": an archive's name and a number.
std::optional<std::pair<std::string_view, std::int64_t>> ArchiveNumber(std::string_view name)
{
    const auto colon = name.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    const std::string_view digits = name.substr(colon + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size() || number <= 0) {
        return std::nullopt;
    }
    return std::pair(name.substr(0, colon), number);
}

const ListedFile* ByNumber(const GameReader& game, std::string_view archive, std::int64_t number)
{
    for (const ListedArchive& listed : game.Archives()) {
        if (listed.location.name != archive) {
            continue;
        }
        for (const ListedFile& file : game.FilesOf(listed)) {
            if (file.number == number) {
                return &file;
            }
        }
    }
    return nullptr;
}

const ListedFile* ByLabel(const GameReader& game, const std::string& label,
                          const std::map<std::string, std::string>& labels)
{
    const ListedFile* found = nullptr;
    std::size_t count = 0;
    for (const auto& [path, text] : labels) {
        if (text == label) {
            found = game.Find(path);
            count += found != nullptr ? 1 : 0;
        }
    }
    if (count > 1) {
        Refuse(label, std::to_string(count) + " sounds have this label: name the one you mean by its path");
    }
    return found;
}

// A replacement run's file system work, told as its own steps.
class NamedListener final : public RunListener {
public:
    explicit NamedListener(RunListener& listener) : listener_(listener) {}
    void StatusChanged(std::string_view text) override { listener_.StatusChanged(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override { listener_.Progress(done, total); }

private:
    RunListener& listener_;
};

}  // namespace

std::vector<ReplacementAsked> ParseReplaceList(std::string_view text, const std::string& list)
{
    std::vector<ReplacementAsked> asked;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#' || line.find_first_not_of(" \t") == std::string_view::npos) {
            continue;
        }
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos || tab == 0 || tab + 1 == line.size() ||
            line.find('\t', tab + 1) != std::string_view::npos) {
            Refuse(list, "line " + std::to_string(number) + " is not SOUND<TAB>FILE");
        }
        asked.push_back(
            ReplacementAsked{.sound = std::string(line.substr(0, tab)), .file = std::string(line.substr(tab + 1))});
    }
    return asked;
}

const ListedFile& FindSound(const GameReader& game, const std::string& name,
                            const std::map<std::string, std::string>& labels)
{
    const ListedFile* file = game.Find(name);
    if (file == nullptr) {
        if (const auto number = ArchiveNumber(name)) {
            file = ByNumber(game, number->first, number->second);
        }
    }
    if (file == nullptr) {
        file = ByLabel(game, name, labels);
    }
    if (file == nullptr) {
        Refuse(name,
               "names no file of the archives: give a listed path (speech/speech_0018.wav), an archive's "
               "number (speech:18) or a label (see --list)");
    }
    if (file->kind != EntryKind::kSound) {
        Refuse(name,
               "is a file of kind " + std::string(KindName(file->kind)) + ", not a sound: only sounds are replaced");
    }
    return *file;
}

audio::FittedSound FitToSound(std::shared_ptr<const GameReader> game, const ListedFile& sound, InputFile& new_sound,
                              const std::string& new_name, const audio::ReplacementOptions& options)
{
    const auto archived = OpenListedFile(std::move(game), sound);
    return audio::FittedSound::Fit(*archived, sound.path, new_sound, new_name, options);
}

void SwapInFitted(GameFolder& game, const ListedFile& sound, audio::FittedSound& fitted, RunListener& listener)
{
    const auto replacement = game.NewReplacement(sound);
    try {
        fitted.WriteTo(replacement->file());
        replacement->file().Close();
    } catch (const audio::SoundError& error) {
        throw ExtractError(Failure{.kind = FailureKind::kSystem, .description = error.what()});
    }
    game.Swap(sound, *replacement, listener);
}

RunEnd ReplaceRun(GameFolder& game, const ReplaceRequest& request, ReplaceReport& report)
{
    bool all = true;
    try {
        const auto listing = game.Listing();
        for (const ReplacementAsked& asked : request.asked) {
            try {
                const ListedFile& sound = FindSound(*listing, asked.sound, request.labels);
                // The new sound is the user's own file, wherever it is: a
                // link the user made is followed.
                const auto new_sound = game.files().OpenArchive(asked.file);
                audio::FittedSound fitted = FitToSound(listing, sound, *new_sound, asked.file, request.fitting);
                report.Fitted(sound, fitted.report());
                if (!request.dry_run) {
                    NamedListener listener(report);
                    SwapInFitted(game, sound, fitted, listener);
                    report.Replaced(sound, game.ExtractedPath(sound));
                }
            } catch (const ExtractError& error) {
                report.NotReplaced(asked, error.failure());
                all = false;
            } catch (const audio::SoundError& error) {
                report.NotReplaced(asked, Failure{.kind = FailureKind::kRefused, .description = error.what()});
                all = false;
            }
        }
    } catch (const Cancelled&) {
        return RunEnd::kCancelled;
    } catch (const ExtractError& error) {
        report.NotReplaced({}, error.failure());
        return RunEnd::kFailed;
    }
    return all ? RunEnd::kCompleted : RunEnd::kFailed;
}

}  // namespace quorvel

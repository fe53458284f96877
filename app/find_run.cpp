#include "app/find_run.hpp"

#include <memory>
#include <optional>
#include <utility>

#include "app/game_reader.hpp"
#include "app/listed_file_input.hpp"
#include "audio/fingerprint.hpp"
#include "audio/sound_index.hpp"
#include "audio/sound_search.hpp"
#include "audio/stored_sound.hpp"
#include "labels/label_store.hpp"

namespace quorvel {
namespace {

constexpr std::string_view kQuestion = "Also search the speech files?";

class Find {
public:
    Find(FileSystem& files, const FindRequest& request, FindReport& report)
        : files_(files), request_(request), report_(report)
    {
    }

    RunEnd Run(std::vector<FoundSound>& found);

private:
    RunEnd EndOf(const std::optional<Truncation>& truncation);
    void SaveIndex(const audio::SoundIndex& index, const std::string& path);
    std::vector<audio::Landmark> ReadClip();
    std::string IndexPath() const;
    void UpdateIndex(const GameReader& game, audio::SoundIndex& index);
    std::uint32_t TheSoundLike(const audio::SoundIndex& index, std::vector<audio::Landmark>& clip) const;
    std::vector<FoundSound> Search(const audio::SoundIndex& index, const std::vector<audio::Landmark>& clip,
                                   std::optional<std::uint32_t> leave_out) const;

    FileSystem& files_;
    const FindRequest& request_;
    FindReport& report_;
    // The game's sounds, in the listing's order, and the hashes of their bytes.
    std::vector<std::pair<const ListedFile*, std::string>> sounds_;
};

RunEnd Find::Run(std::vector<FoundSound>& found)
{
    std::optional<Truncation> truncation;
    try {
        const bool needs_clip = request_.like.empty() && !request_.index_only;
        std::vector<audio::Landmark> clip = needs_clip ? ReadClip() : std::vector<audio::Landmark>{};
        const bool with_speech = report_.AskYesNo(kQuestion);
        const GameReader game = GameReader::Open(files_, request_.places, with_speech);
        for (const ListedArchive& archive : game.Archives()) {
            if (archive.truncation && !truncation) {
                truncation = archive.truncation;
            }
        }
        report_.Started();
        audio::SoundIndex index;
        UpdateIndex(game, index);
        if (request_.index_only) {
            return EndOf(truncation);
        }
        std::optional<std::uint32_t> leave_out;
        if (!request_.like.empty()) {
            leave_out = TheSoundLike(index, clip);
        }
        found = Search(index, clip, leave_out);
    } catch (const ExtractError& error) {
        report_.ReportError(error.failure());
        return RunEnd::kFailed;
    } catch (const Cancelled&) {
        return RunEnd::kCancelled;
    }
    return EndOf(truncation);
}

RunEnd Find::EndOf(const std::optional<Truncation>& truncation)
{
    if (truncation) {
        report_.ReportWarning(truncation->Describe());
        return RunEnd::kTruncated;
    }
    return RunEnd::kCompleted;
}

// The sound the others are to be like: its number among the game's sounds,
// and its landmarks as the clip.
std::uint32_t Find::TheSoundLike(const audio::SoundIndex& index, std::vector<audio::Landmark>& clip) const
{
    for (std::size_t i = 0; i < sounds_.size(); ++i) {
        if (sounds_[i].first->path == request_.like) {
            if (const std::vector<audio::Landmark>* landmarks = index.Find(sounds_[i].second)) {
                clip = *landmarks;
            }
            return static_cast<std::uint32_t>(i);
        }
    }
    throw ExtractError(Failure{.kind = FailureKind::kRefused,
                               .description = "not a sound of the game: choose a sound to find others like it",
                               .file = request_.like});
}

// The clip's landmarks; a clip that cannot be read or decoded is the run's
// failure, named as the user gave it.
std::vector<audio::Landmark> Find::ReadClip()
{
    const std::unique_ptr<InputFile> opened =
        request_.clip_bytes == nullptr ? files_.OpenArchive(request_.clip) : nullptr;
    InputFile* input = request_.clip_bytes == nullptr ? opened.get() : request_.clip_bytes;
    try {
        audio::SoundDecoder decoder = audio::SoundDecoder::Open(*input, request_.clip);
        return audio::FingerprintSound(decoder);
    } catch (const audio::SoundError& error) {
        // The decoder's message names the clip first: the failure names it once.
        std::string_view reason = error.what();
        if (reason.starts_with(request_.clip + ": ")) {
            reason.remove_prefix(request_.clip.size() + 2);
        }
        throw ExtractError(Failure{
            .kind = FailureKind::kRefused,
            .description = std::string(reason) + " (a clip is a sound file: WAV, FLAC, Ogg, Opus, MP3, AIFF...)",
            .file = request_.clip});
    }
}

std::string Find::IndexPath() const
{
    const std::string base = ArchiveLocation::OutputParent(request_.places.game_folder, request_.places.output_folder);
    const std::string name(audio::kSoundIndexFile);
    return base.empty() ? name : files_.Join(base, name);
}

// Fingerprints the sounds the index file has no landmarks for, and writes
// the file back when anything changed; a run stopped meanwhile writes what
// it has, so that the next one goes on from there.
void Find::UpdateIndex(const GameReader& game, audio::SoundIndex& index)
{
    const std::string path = IndexPath();
    const audio::SoundIndex::Loaded loaded = audio::SoundIndex::Load(files_, path, index);
    std::uint64_t total = 0;
    for (const ListedFile& file : game.Files()) {
        total += file.kind == EntryKind::kSound ? file.size : 0;
    }
    report_.StatusChanged("Indexing sounds");
    std::vector<audio::SoundIndex::Sound> sounds;
    std::uint64_t done = 0;
    for (const ListedFile& file : game.Files()) {
        if (file.kind != EntryKind::kSound) {
            continue;
        }
        sounds_.emplace_back(&file, ContentHash(game, file));
        // Progress is told before a sound, so that a stop loses no sound's work.
        sounds.push_back({sounds_.back().second, [&game, &file, this, &done, total] {
                              report_.Progress(done, total);
                              done += file.size;
                              ListedFileInput input(game, file);
                              audio::SoundDecoder decoder = audio::OpenSound(input, file.path);
                              return audio::FingerprintSound(decoder);
                          }});
    }
    const std::size_t before = index.size();
    std::size_t fingerprinted = 0;
    try {
        fingerprinted =
            index.Update(sounds, [this](const audio::SoundError& error) { report_.SoundFailed(error.what()); });
    } catch (const Cancelled&) {
        if (index.size() != before) {
            SaveIndex(index, path);
        }
        throw;
    }
    report_.Progress(total, total);
    report_.Indexed(sounds.size(), fingerprinted);
    if (fingerprinted != 0 || index.size() != before || loaded != audio::SoundIndex::Loaded::kRead) {
        SaveIndex(index, path);
    }
}

// The index is only kept to spare the next search work: where it cannot be
// written, this search is not the worse for it.
void Find::SaveIndex(const audio::SoundIndex& index, const std::string& path)
{
    const std::string base = ArchiveLocation::OutputParent(request_.places.game_folder, request_.places.output_folder);
    if (const auto failure = base.empty() ? std::nullopt : files_.MakeFolder(base)) {
        report_.IndexNotKept(*failure);
        return;
    }
    try {
        index.Save(files_, path);
    } catch (const ExtractError& error) {
        report_.IndexNotKept(error.failure());
    }
}

std::vector<FoundSound> Find::Search(const audio::SoundIndex& index, const std::vector<audio::Landmark>& clip,
                                     std::optional<std::uint32_t> leave_out) const
{
    audio::SoundSearch search;
    for (std::size_t i = 0; i < sounds_.size(); ++i) {
        if (const std::vector<audio::Landmark>* landmarks = index.Find(sounds_[i].second)) {
            search.Add(static_cast<std::uint32_t>(i), *landmarks);
        }
    }
    std::vector<FoundSound> found;
    for (const audio::SoundMatch& match : search.Find(clip, request_.most, leave_out)) {
        found.push_back({sounds_[match.sound].first->path, match.seconds, match.score});
    }
    return found;
}

}  // namespace

RunEnd FindRun(FileSystem& files, const FindRequest& request, FindReport& report, std::vector<FoundSound>& found)
{
    return Find(files, request, report).Run(found);
}

}  // namespace quorvel

#include "app/game_folder.hpp"

#include <set>

#include "app/form1.hpp"
#include "app/windowless_ui.hpp"

namespace quorvel {
namespace {

// The folder's files, with one of them read from elsewhere: the pack's
// checks on a file before it takes its place.
class SubstitutingFileSystem final : public ForwardingFileSystem {
public:
    SubstitutingFileSystem(FileSystem& files, std::string path, std::string stand_in)
        : ForwardingFileSystem(files), path_(std::move(path)), stand_in_(std::move(stand_in))
    {
    }
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override
    {
        return files_.OpenRegularFile(path == path_ ? stand_in_ : path);
    }

private:
    std::string path_;
    std::string stand_in_;
};

// A swap's steps told for what they are, not as the runs they borrow.
class SwapListener final : public RunListener {
public:
    SwapListener(RunListener& listener, std::string status) : listener_(listener), status_(std::move(status)) {}
    void StatusChanged(std::string_view /*text*/) override { listener_.StatusChanged(status_); }
    void Progress(std::uint64_t done, std::uint64_t total) override { listener_.Progress(done, total); }

private:
    RunListener& listener_;
    std::string status_;
};

}  // namespace

ChosenPaths::ChosenPaths(const std::vector<const ListedFile*>& chosen)
{
    for (const ListedFile* file : chosen) {
        paths_.insert(file->path);
    }
}

bool ChosenPaths::Chooses(std::string_view /*archive*/, std::int64_t /*number*/, std::string_view path)
{
    return paths_.contains(std::string(path));
}

GameFolder::GameFolder(Places places, FileSystem& files, RunFileSystems run_files, PackFileSystem& pack_files)
    : places_(std::move(places)), files_(files), run_files_(std::move(run_files)), pack_files_(pack_files)
{
}

std::string GameFolder::OutputFolder() const
{
    return ArchiveLocation::OutputParent(places_.game_folder, places_.output_folder);
}

std::shared_ptr<const GameReader> GameFolder::List()
{
    // Without speech.pak the sound effects alone are listed.
    const bool speech = ArchiveIsThere(files_, pack_files_, places_, kSpeech);
    auto game = std::make_shared<const GameReader>(GameReader::Open(files_, places_, speech));
    const std::lock_guard lock(mutex_);
    game_ = game;
    return game;
}

std::shared_ptr<const GameReader> GameFolder::Listing()
{
    {
        const std::lock_guard lock(mutex_);
        if (game_) {
            return game_;
        }
    }
    return List();
}

void GameFolder::ForgetListing()
{
    const std::lock_guard lock(mutex_);
    game_.reset();
}

std::string GameFolder::ExtractedPath(const ListedFile& file) const
{
    const auto name = SplitListedPath(file.path).value();
    return files_.Join(Location(name.archive).output_folder, std::string(name.file_name));
}

std::unique_ptr<InputFile> GameFolder::OpenExtracted(const ListedFile& file)
{
    return files_.OpenRegularFile(ExtractedPath(file));
}

void GameFolder::Extract(const std::vector<const ListedFile*>& chosen, RunListener& listener)
{
    const auto game = Listing();
    WindowlessUi ui(game->Archives().size() > 1, listener);
    ChosenPaths choice(chosen);
    const auto run_files = run_files_();
    Form1 form(ui, *run_files, places_, ExtractionOptions{.choice = chosen.empty() ? nullptr : &choice});
    switch (form.FormLoad()) {
        case RunEnd::kCompleted:
        case RunEnd::kTruncated:
            return;
        case RunEnd::kCancelled:
            throw Cancelled();
        case RunEnd::kFailed:
            break;
    }
    throw ExtractError(ui.failure().value_or(Failure{.description = "the extraction failed"}));
}

GameFolder::Replacement::Replacement(PackFileSystem& pack_files, PackFileSystem::Temporary temporary)
    : pack_files_(pack_files), temporary_(std::move(temporary))
{
}

GameFolder::Replacement::~Replacement()
{
    if (!taken_) {
        temporary_.file->Abandon();
        pack_files_.RemoveTemporary(temporary_.path);
    }
}

std::unique_ptr<GameFolder::Replacement> GameFolder::NewReplacement(const ListedFile& sound)
{
    // Beside the file it will replace, so that taking its name is a rename
    // within one folder; hidden, and never listed by the pack.
    const std::string folder = Location(SplitListedPath(sound.path).value().archive).output_folder;
    // The folder extraction would make, made now where it is not yet there.
    if (const auto failure = files_.MakeFolder(folder)) {
        throw ExtractError(*failure);
    }
    return std::make_unique<Replacement>(pack_files_,
                                         pack_files_.MakeTemporaryBeside(files_.Join(folder, kReplacementFolder)));
}

void GameFolder::Swap(const ListedFile& sound, Replacement& replacement, RunListener& listener)
{
    const std::string archive(SplitListedPath(sound.path).value().archive);
    const ArchiveLocation location = Location(archive);
    ExtractMissing(archive, listener);
    const std::string target = ExtractedPath(sound);
    SwapListener checking(listener, "Checking that the new sound comes back from a pack of " + location.archive_path);
    SubstitutingFileSystem with_replacement(files_, target, replacement.path());
    PackArchive(location, with_replacement, pack_files_, checking, PackMode::kDryRun);
    pack_files_.ReplaceWith(replacement.path(), target);
    replacement.Taken();
}

// A swap goes into an extracted folder: the files of the archive that are
// not there yet are extracted first, and no file that is there is touched.
void GameFolder::ExtractMissing(const std::string& archive, RunListener& listener)
{
    const auto game = Listing();
    std::vector<const ListedFile*> missing;
    for (const ListedArchive& listed : game->Archives()) {
        if (listed.location.name != archive) {
            continue;
        }
        for (const ListedFile& file : game->FilesOf(listed)) {
            if (!OpenExtracted(file)) {
                missing.push_back(&file);
            }
        }
    }
    if (!missing.empty()) {
        SwapListener extracting(listener, "Extracting " + archive + " into " + Location(archive).output_folder +
                                              " first, once, to hold the new sound");
        Extract(missing, extracting);
    }
}

void GameFolder::Undo(const ListedFile& file, RunListener& listener)
{
    Extract({&file}, listener);
}

RunEnd GameFolder::Pack(PackMode mode, PackRunReport& report)
{
    if (mode == PackMode::kReplace) {
        ForgetListing();
    }
    const auto run_files = run_files_();
    return PackRun(*run_files, pack_files_, places_, mode, report);
}

}  // namespace quorvel

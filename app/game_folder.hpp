#pragma once

// The game's folder as the studio (and a replacement made from the
// terminal) works on it: its archives listed and read where they lie, the
// files of its output folder read without following a link, and the runs
// that change them: chosen files extracted, a sound swapped for a new file
// once the pack's own checks pass, the archive's own file put back, and the
// pack. Every run writes through a file system of its own, so that the
// folders it opened and the hidden folders it made go when it ends.

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/game_reader.hpp"
#include "app/pack_run.hpp"
#include "app/places.hpp"
#include "pack/pack.hpp"

namespace quorvel {

// The files a run takes, by their listed paths.
class ChosenPaths final : public FileChoice {
public:
    explicit ChosenPaths(const std::vector<const ListedFile*>& chosen);
    bool Chooses(std::string_view archive, std::int64_t number, std::string_view path) override;

private:
    std::set<std::string> paths_;
};

// Makes the file system one run writes through.
using RunFileSystems = std::function<std::unique_ptr<FileSystem>()>;

class GameFolder {
public:
    // `files` reads (archives, the output folder's files); each run writes
    // through a new one from `run_files`.
    GameFolder(Places places, FileSystem& files, RunFileSystems run_files, PackFileSystem& pack_files);

    const Places& places() const { return places_; }
    FileSystem& files() { return files_; }
    PackFileSystem& pack_files() { return pack_files_; }
    // The folder the output goes to ("" for the current one).
    std::string OutputFolder() const;
    ArchiveLocation Location(std::string_view archive) const { return Locate(files_, places_, archive); }

    // Lists the archives: the sound effects, and the speech where
    // speech.pak is there. Throws ExtractError.
    std::shared_ptr<const GameReader> List();
    // What was listed last (listed first where nothing was).
    std::shared_ptr<const GameReader> Listing();
    // Lets go of the archives the listing holds open until next listed
    // (Windows keeps the name of an open file).
    void ForgetListing();

    // Where extraction writes a listed file ("game/sfx/sfx_0001.wav").
    std::string ExtractedPath(const ListedFile& file) const;
    // The output folder's file in a listed file's place, read without
    // following a link; nothing when there is none. Throws ExtractError (a
    // link, a folder or a FIFO there).
    std::unique_ptr<InputFile> OpenExtracted(const ListedFile& file);

    // The runs. Each throws ExtractError or Cancelled (from the listener's
    // Progress); files finished stay.

    // Extracts the chosen files (every file when none are), as the
    // terminal program writes them.
    void Extract(const std::vector<const ListedFile*>& chosen, RunListener& listener);

    // A new file for a sound: written in the sound's folder under a
    // temporary name, until a swap takes it; removed if it never is.
    class Replacement {
    public:
        Replacement(PackFileSystem& pack_files, PackFileSystem::Temporary temporary);
        ~Replacement();
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;

        OutputFile& file() { return *temporary_.file; }
        const std::string& path() const { return temporary_.path; }
        void Taken() { taken_ = true; }

    private:
        PackFileSystem& pack_files_;
        PackFileSystem::Temporary temporary_;
        bool taken_ = false;
    };
    std::unique_ptr<Replacement> NewReplacement(const ListedFile& sound);

    // Makes a closed replacement the sound's file, extracting the sound's
    // archive first where its files are not all there yet. The pack's own
    // checks decide, on the folder with the replacement in the sound's
    // place (PackRefused, and nothing is changed).
    void Swap(const ListedFile& sound, Replacement& replacement, RunListener& listener);
    // The archive's own file, extracted again over whatever is there.
    void Undo(const ListedFile& file, RunListener& listener);
    // Packs every archive that has its folder, as --pack does.
    RunEnd Pack(PackMode mode, PackRunReport& report);
    // The file system a run of another kind (an export) writes through.
    std::unique_ptr<FileSystem> RunFiles() const { return run_files_(); }

private:
    void ExtractMissing(const std::string& archive, RunListener& listener);

    Places places_;
    FileSystem& files_;
    RunFileSystems run_files_;
    PackFileSystem& pack_files_;
    std::mutex mutex_;
    std::shared_ptr<const GameReader> game_;  // what was listed last, open for reading
};

}  // namespace quorvel

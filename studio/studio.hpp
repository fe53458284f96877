#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/game_folder.hpp"
#include "labels/label_book.hpp"
#include "pack/pack_refused.hpp"
#include "studio/http_types.hpp"
#include "studio/routes.hpp"
#include "studio/run_slot.hpp"

namespace quorvel::audio {
class TemporaryStore;
}

namespace quorvel::studio {

// The page's assets, built into the program (page_assets.cpp, generated).
struct PageAsset {
    std::string_view path;  // "/studio.js"
    std::string_view content_type;
    std::string_view bytes;
};
std::span<const PageAsset> PageAssets();

// A file's JSON record with its label added: `{..., "label": "door creak"}`,
// or `"label": null` for none.
std::string WithLabel(std::string_view record, const std::string* label);

struct StudioOptions {
    std::string token;
    // The text of a shared labels list given on the command line
    // (--labels FILE): attached at the start, and its labels in every
    // record of /api/entries.
    std::optional<std::string> shared_labels;
    // The output folder as the page names it (an absolute path).
    std::string output_folder_shown;
    // Indexes the sounds for the search by ear from the start, in the
    // background; tests that count what a search itself indexes turn it off.
    bool index_ahead = true;
};

// The studio: every rule of access, then its routes (one table, read when a
// request's head arrives and when it is handled) over the game's folder:
// the listing, the bytes, the waveforms, the labels and the runs. Requests
// come from the server's thread; a run goes on a thread of its own, one at
// a time, and answers when it ends.
class Studio final : public RequestHandler {
public:
    Studio(GameFolder& game, StudioOptions options);
    ~Studio() override;
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    // Lists the archives, reads the labels file and starts indexing the
    // sounds in the background (index_ahead). Throws ExtractError.
    void Start();
    // The port the server listens on: the only one Host and Origin may name.
    void SetPort(std::uint16_t port) { port_ = port; }
    std::string_view token() const { return options_.token; }

    Admission Admit(const RequestHead& head) override;
    void Handle(const RequestHead& head, std::string body, std::unique_ptr<UploadFile> upload, Reply reply) override;

    // Ctrl-C: the run under way (if any) stops at its next report, then
    // the studio ends.
    void RequestStop();
    // Quit was asked (and its answer sent) and no run is under way.
    bool Finished() const;
    // A run was under way when the studio was told to end.
    bool StoppedARun() const { return runs_.StoppedARun(); }
    // What the shared list given at the start matched; nothing without one.
    std::optional<LabelMatch> shared_match() const { return shared_match_; }
    // What went wrong at the start without stopping it, or empty.
    const std::string& start_warning() const { return start_warning_; }

private:
    // A listing, and its JSON lines as --list --json writes them.
    struct Listed {
        struct Line {
            std::string json;
            std::optional<std::size_t> file;  // a file's record (its index), or an archive's summary
        };
        std::shared_ptr<const GameReader> game;
        std::vector<Line> lines;
    };
    class Upload;

    void AddRoutes();
    std::shared_ptr<const Listed> Current() const;
    void Relist();
    void RefreshChanged(const GameReader& game);
    std::optional<Response> AdmitUpload(const ListedFile& sound, Admission& admission);

    void ServePage(std::string_view path, const Reply& reply) const;
    Response Entries() const;
    Response Status();
    Response FileBytes(RouteRequest& request, bool extracted);
    // Bytes answered with Range support; `download` names the file saved.
    Response ServeBytes(const RouteRequest& request, std::unique_ptr<InputFile> bytes, std::string content_type,
                        const std::optional<std::string>& download) const;
    // A name for a file of `file`'s saved by the browser, with its label where it has one.
    std::string DownloadNameOf(const ListedFile& file, std::string_view extension);

    // The sounds as sounds (sounds.cpp): decoded, drawn, exported, fitted.
    // The sound asked for: the archive's, or with ?from=output the output
    // folder's (nothing when it has none).
    std::unique_ptr<InputFile> OpenAsked(const RouteRequest& request);
    Response Decoded(RouteRequest& request);
    Response Preview(RouteRequest& request);
    Response PeaksOf(RouteRequest& request);
    Response SpectrogramOf(RouteRequest& request);
    void FindByEar(RouteRequest& request, Reply reply, bool like);
    // The index of the sounds' landmarks, brought up to date in the
    // background from the start, so that the first search is quick; it
    // gives way to every run the user asks for.
    void StartIndexing();
    Response IndexState() const;
    Response ExportedFile(RouteRequest& request);
    void ExportSounds(RouteRequest& request, Reply reply);
    Response FitAndSwap(const std::shared_ptr<const GameReader>& game, const ListedFile& sound,
                        GameFolder::Replacement& upload, const std::string& name,
                        const std::map<std::string, std::string>& query, RunListener& listener);
    Response Hashes();
    Response RunState() const;
    Response SaveLabel(const RouteRequest& request);
    Response ImportLabels(const RouteRequest& request);
    void Quit(Reply reply);
    // The body's "paths" (none: every file), each a file of the listing;
    // the refusal to answer where they are not.
    static std::optional<Response> ReadChosenPaths(const nlohmann::json& body, const GameReader& game,
                                                   std::vector<const ListedFile*>& chosen);
    void Extract(RouteRequest& request, Reply reply);
    void Swap(RouteRequest& request, Reply reply);
    // What a refused swap leaves in the sound's place, said to the user.
    std::string WhatStays(const ListedFile& sound);
    Response RefusedSwap(const ListedFile& sound, const std::string& name, const PackRefused& refusal,
                         const std::string& stays) const;
    Response SwapIn(const GameReader& game, const ListedFile& sound, GameFolder::Replacement& replacement,
                    const std::string& name, RunListener& listener);
    void Undo(RouteRequest& request, Reply reply);
    void Pack(RouteRequest& request, Reply reply);

    GameFolder& game_;
    StudioOptions options_;
    std::atomic<std::uint16_t> port_{0};
    RouteTable routes_;
    LabelBook labels_;

    mutable std::mutex state_mutex_;
    std::shared_ptr<const Listed> listed_;
    std::set<std::string> changed_;  // listed paths whose output file is not the archive's
    std::optional<LabelMatch> shared_match_;
    std::string start_warning_;
    std::atomic<bool> upload_under_way_{false};
    // The last dry run's fitted sound, to be heard before it is swapped in.
    struct FittedPreview {
        std::string path;  // the sound it would replace
        std::shared_ptr<audio::TemporaryStore> bytes;
    };
    std::optional<FittedPreview> preview_;  // under state_mutex_
    std::atomic<bool> quit_{false};
    // Last, so that it is the first to go: its threads use everything above.
    RunSlot runs_;
};

}  // namespace quorvel::studio

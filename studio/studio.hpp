#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>

#include "studio/http_types.hpp"
#include "studio/labels.hpp"
#include "studio/request_policy.hpp"
#include "studio/studio_backend.hpp"

namespace quorvel::studio {

// The page's assets, built into the program (page_assets.cpp, generated).
struct PageAsset {
    std::string_view path;  // "/studio.js"
    std::string_view content_type;
    std::string_view bytes;
};
std::span<const PageAsset> PageAssets();

// XXH64 (seed 0) of a listed file's bytes, read from the archive, in the
// labels file's spelling. Throws RunFailed.
std::string HashListed(StudioBackend& backend, const ListedFile& file);

// A file's JSON record with its label added: `{..., "label": "door creak"}`,
// or `"label": null` for none.
std::string WithLabel(std::string_view record, const std::string* label);

struct StudioOptions {
    std::string token;
    // The text of a shared labels list given on the command line
    // (--labels FILE): attached at the start, and its labels in every
    // record of /api/entries.
    std::optional<std::string> shared_labels;
};

// The studio's routes over the backend: every rule of access, then the
// listing, the bytes, the waveforms, the labels and the runs. Requests come
// from the server's thread; a run goes on a thread of its own, one at a
// time, and answers when it ends.
class Studio final : public RequestHandler {
public:
    Studio(StudioBackend& backend, StudioOptions options);
    ~Studio() override;
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    // Lists the archives and reads the labels file. Throws RunFailed.
    void Start();
    // The port the server listens on: the only one Host and Origin may name.
    void SetPort(std::uint16_t port) { port_ = port; }
    std::string_view token() const { return options_.token; }

    Admission Admit(const RequestHead& head) override;
    void Handle(const RequestHead& head, std::string body, std::unique_ptr<UploadFile> upload, Reply reply) override;

    // Ctrl-C: the run under way (if any) stops at its next check, then the
    // studio ends.
    void RequestStop();
    // Quit was asked (and its answer sent) and no run is under way.
    bool Finished() const;
    // A run was under way when the studio was told to end.
    bool StoppedARun() const { return stopped_a_run_; }
    // What the shared list given at the start matched; nothing without one.
    std::optional<LabelMatch> shared_match() const { return shared_match_; }
    // What went wrong at the start without stopping it, or empty.
    const std::string& start_warning() const { return start_warning_; }

private:
    struct Snapshot {
        Listing listing;
        std::unordered_map<std::string, std::size_t> index;  // path -> file
    };
    struct RunState {
        std::string name;
        bool running = false;
        std::string status;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        std::string outcome;  // "done", "stopped", "failed", "refused"
        std::string message;
    };
    class Reporter;
    using Work = std::function<Response(RunReporter&)>;

    Response Route(const RequestHead& head, const Target& target, std::string body, std::unique_ptr<UploadFile> upload,
                   const Reply& reply, bool& deferred);
    std::shared_ptr<const Snapshot> Current() const;
    const ListedFile* Find(const Snapshot& snapshot, const std::string& path) const;

    Response ServePage(std::string_view path) const;
    Response ServeEntries() const;
    std::optional<std::uint64_t> SizeOf(const ListedFile& file, bool from_output);
    Response ServeFile(const RequestHead& head, const ListedFile& file, bool from_output, bool download);
    Response ServePeaks(const ListedFile& file, const std::map<std::string, std::string>& query);
    Response ServeHashes();
    Response ServeStatus() const;
    Response ServeLabels() const;
    Response ServeRun() const;
    Response SaveLabel(const std::string& body);
    Response ImportLabels(const std::string& text);

    void StartRun(std::string name, Work work, Reply reply);
    void Relist();
    void RefreshChanged(const Snapshot& snapshot);

    std::string HashOf(const ListedFile& file);
    void HashAll(const Snapshot& snapshot);
    LabelMatch AttachLabels(const std::vector<LabelLine>& lines);
    void SaveLabelsFile();
    std::string LabelsPath() const;

    StudioBackend& backend_;
    StudioOptions options_;
    std::atomic<std::uint16_t> port_{0};

    mutable std::mutex state_mutex_;
    std::shared_ptr<const Snapshot> snapshot_;
    std::set<std::string> changed_;
    std::unordered_map<std::string, std::string> hashes_;  // path -> hash, of the current listing
    std::map<std::string, std::string> labels_;            // path -> label
    std::optional<LabelMatch> shared_match_;
    std::string start_warning_;

    mutable std::mutex run_mutex_;
    RunState run_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> quit_{false};
    std::atomic<bool> stopped_a_run_{false};
    std::atomic<int> answers_pending_{0};
};

}  // namespace quorvel::studio

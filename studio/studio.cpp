#include "studio/studio.hpp"

#include <algorithm>
#include <cmath>

#include "app/listing_records.hpp"
#include "app/pack_words.hpp"
#include "app/replacement_check.hpp"
#include "labels/label_names.hpp"
#include "studio/answers.hpp"
#include "studio/byte_source.hpp"
#include "studio/http_range.hpp"
#include "studio/request_policy.hpp"

namespace quorvel::studio {
namespace {

using nlohmann::json;

// Limits on what a request may carry, per route.
constexpr std::uint64_t kSmallBody = 64 << 10;           // a label, a pack's options
constexpr std::uint64_t kListBody = 16 << 20;            // a shared labels list, a choice of files
constexpr std::uint64_t kClipBody = 32 << 20;            // a clip to find: a minute of CD audio and more
constexpr std::uint64_t kLargestUpload = 0x7FFFFFFFULL;  // the largest block's length field

constexpr std::string_view kTokenPlaceholder = "@TOKEN@";

// What a pack run told of each archive, for the page: the numbers, and the
// lines the terminal prints, worded by the pack itself.
class PackReportJson final : public PackRunReport {
public:
    PackReportJson(RunListener& listener, PackMode mode) : listener_(listener), mode_(mode) {}

    void StatusChanged(std::string_view text) override { listener_.StatusChanged(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override { listener_.Progress(done, total); }
    void NothingToPack(const ArchiveLocation& sound_effects, const ArchiveLocation& speech) override
    {
        json archive = Archive(sound_effects);
        archive["refused"] = NothingToPackLine(sound_effects, speech);
        archive["lines"] = json::array({archive["refused"]});
        archives_.push_back(std::move(archive));
    }
    void Packed(const ArchiveLocation& location, const PackResult& result) override
    {
        packed_.push_back(location.name);
        json archive = Archive(location);
        json changes = json::array();
        for (const BlockChange& change : result.changes) {
            changes.push_back({{"offset", change.offset},
                               {"old_size", change.old_size},
                               {"new_size", change.new_size},
                               {"files", change.files},
                               {"final_field", change.final_field}});
        }
        const bool dry_run = mode_ == PackMode::kDryRun;
        archive.update({{"old_size", result.old_size},
                        {"new_size", result.new_size},
                        {"blocks", result.blocks},
                        {"changes", std::move(changes)},
                        {"ignored", result.ignored},
                        {"repaired", result.repaired ? json(result.repaired->Describe()) : json(nullptr)},
                        {"result", dry_run ? "would be packed" : PackedText(result)},
                        {"warnings", PackWarnings(location, result, mode_)},
                        {"lines", dry_run ? DryRunLines(location, result)
                                          : std::vector<std::string>{PackedLine(location, result)}}});
        archives_.push_back(std::move(archive));
    }
    void NotPacked(const ArchiveLocation& location, const Failure& failure) override
    {
        json archive = Archive(location);
        archive["refused"] =
            failure.kind == FailureKind::kRefused ? failure.file + ": " + failure.description : failure.OneLine();
        archive["result"] = mode_ == PackMode::kDryRun ? "would be refused" : "left as it was";
        json lines = json::array();
        if (failure.kind != FailureKind::kRefused) {
            lines.push_back(failure.OneLine());
        }
        lines.push_back(NotPackedLine(location, failure, mode_));
        archive["lines"] = std::move(lines);
        archives_.push_back(std::move(archive));
    }
    void Stopped(const ArchiveLocation& /*location*/) override {}

    json Report() const { return json{{"dry_run", mode_ == PackMode::kDryRun}, {"archives", archives_}}; }
    // The archives packed (or that a dry run would pack): "sfx".
    const std::vector<std::string>& packed() const { return packed_; }

private:
    static json Archive(const ArchiveLocation& location)
    {
        return json{{"archive", ArchivePath(location.name)},
                    {"old_size", 0},
                    {"new_size", 0},
                    {"blocks", 0},
                    {"changes", json::array()},
                    {"ignored", json::array()},
                    {"repaired", nullptr},
                    {"refused", nullptr},
                    {"result", ""},
                    {"warnings", json::array()},
                    {"lines", json::array()}};
    }

    RunListener& listener_;
    PackMode mode_;
    json archives_ = json::array();
    std::vector<std::string> packed_;
};

}  // namespace

std::string WithLabel(std::string_view record, const std::string* label)
{
    if (record.empty() || record.back() != '}') {
        return std::string(record);
    }
    const std::string value = label ? quorvel::JsonString(*label) : "null";
    return std::string(record.substr(0, record.size() - 1)) + ", \"label\": " + value + "}";
}

// A swap's new file as its body arrives: one at a time, and gone with the
// request unless the swap took it.
class Studio::Upload final : public UploadFile {
public:
    Upload(std::unique_ptr<GameFolder::Replacement> replacement, std::atomic<bool>& under_way)
        : replacement_(std::move(replacement)), under_way_(under_way)
    {
    }
    ~Upload() override
    {
        replacement_.reset();
        under_way_ = false;
    }
    void Write(std::span<const std::byte> bytes) override
    {
        try {
            replacement_->file().Write(bytes);
        } catch (const ExtractError& error) {
            throw std::runtime_error(error.failure().OneLine());
        }
    }
    void Finish() override
    {
        try {
            replacement_->file().Close();
        } catch (const ExtractError& error) {
            throw std::runtime_error(error.failure().OneLine());
        }
    }
    GameFolder::Replacement& replacement() { return *replacement_; }

private:
    std::unique_ptr<GameFolder::Replacement> replacement_;
    std::atomic<bool>& under_way_;
};

Studio::Studio(GameFolder& game, StudioOptions options)
    : game_(game),
      options_(std::move(options)),
      labels_(LabelsFilePath(game.files(), game.OutputFolder()), game.files(), game.pack_files())
{
    AddRoutes();
}

Studio::~Studio() = default;

void Studio::AddRoutes()
{
    const auto now = [this](Response (Studio::*serve)(RouteRequest&)) {
        return [this, serve](RouteRequest& request, Reply reply) { reply((this->*serve)(request)); };
    };
    const auto plain = [](auto serve) { return [serve](RouteRequest& /*request*/, Reply reply) { reply(serve()); }; };
    routes_.Add({"GET", "/api/entries", false, 0, false, plain([this] { return Entries(); })});
    routes_.Add({"GET", "/api/status", false, 0, false, plain([this] { return Status(); })});
    routes_.Add({"GET", "/api/labels", false, 0, false,
                 plain([this] { return JsonResponse(200, Dump(json(labels_.Labels()))); })});
    routes_.Add({"GET", "/api/hashes", false, 0, false, plain([this] { return Hashes(); })});
    routes_.Add({"GET", "/api/run", false, 0, false, plain([this] { return RunState(); })});
    routes_.Add({"GET", "/api/index", false, 0, false, plain([this] { return IndexState(); })});
    routes_.Add({"GET", "/api/file/", true, 0, false,
                 [this](RouteRequest& request, Reply reply) { reply(FileBytes(request, false)); }});
    routes_.Add({"GET", "/api/output/", true, 0, false,
                 [this](RouteRequest& request, Reply reply) { reply(FileBytes(request, true)); }});
    routes_.Add({"GET", "/api/peaks/", true, 0, false, now(&Studio::PeaksOf)});
    routes_.Add({"GET", "/api/decoded/", true, 0, false, now(&Studio::Decoded)});
    routes_.Add({"GET", "/api/spectrogram/", true, 0, false, now(&Studio::SpectrogramOf)});
    routes_.Add({"POST", "/api/find", false, kClipBody, false,
                 [this](RouteRequest& request, Reply reply) { FindByEar(request, std::move(reply), false); }});
    routes_.Add({"GET", "/api/similar/", true, 0, false,
                 [this](RouteRequest& request, Reply reply) { FindByEar(request, std::move(reply), true); }});
    routes_.Add({"GET", "/api/preview/", true, 0, false, now(&Studio::Preview)});
    routes_.Add({"GET", "/api/export/", true, 0, false, now(&Studio::ExportedFile)});
    routes_.Add({"POST", "/api/export", false, kListBody, false,
                 [this](RouteRequest& request, Reply reply) { ExportSounds(request, std::move(reply)); }});
    routes_.Add({"POST", "/api/labels", false, kSmallBody, false,
                 [this](RouteRequest& request, Reply reply) { reply(SaveLabel(request)); }});
    routes_.Add({"POST", "/api/labels/import", false, kListBody, false,
                 [this](RouteRequest& request, Reply reply) { reply(ImportLabels(request)); }});
    routes_.Add({"POST", "/api/quit", false, kSmallBody, false,
                 [this](RouteRequest& /*request*/, Reply reply) { Quit(std::move(reply)); }});
    routes_.Add({"POST", "/api/extract", false, kListBody, false,
                 [this](RouteRequest& request, Reply reply) { Extract(request, std::move(reply)); }});
    routes_.Add({"POST", "/api/swap/", true, kLargestUpload, true,
                 [this](RouteRequest& request, Reply reply) { Swap(request, std::move(reply)); }});
    routes_.Add({"POST", "/api/undo/", true, kSmallBody, false,
                 [this](RouteRequest& request, Reply reply) { Undo(request, std::move(reply)); }});
    routes_.Add({"POST", "/api/pack", false, kSmallBody, false,
                 [this](RouteRequest& request, Reply reply) { Pack(request, std::move(reply)); }});
}

void Studio::Start()
{
    Relist();
    const auto game = Current()->game;
    if (const auto why = labels_.Load(*game)) {
        start_warning_ = "the labels file was not read: " + *why;
    }
    if (options_.shared_labels) {
        shared_match_ = labels_.Attach(*game, ParseLabels(*options_.shared_labels).lines);
        // Given on the command line, the list is the user's to keep: it goes
        // into the labels file at once, as one dropped on the page does.
        try {
            labels_.Save(*game);
        } catch (const ExtractError& error) {
            start_warning_ = "the labels were not saved: " + error.failure().OneLine();
        }
    }
    if (options_.index_ahead) {
        StartIndexing();
    }
}

std::shared_ptr<const Studio::Listed> Studio::Current() const
{
    const std::lock_guard lock(state_mutex_);
    return listed_;
}

void Studio::Relist()
{
    auto listed = std::make_shared<Listed>();
    listed->game = game_.List();
    for (const ListedArchive& archive : listed->game->Archives()) {
        for (std::size_t i = archive.first_file; i < archive.first_file + archive.file_count; ++i) {
            listed->lines.push_back({FileRecord(listed->game->Files()[i]), i});
        }
        listed->lines.push_back({ArchiveRecord(archive, listed->game->Totals(archive)), std::nullopt});
    }
    labels_.ListingChanged();
    {
        const std::lock_guard lock(state_mutex_);
        listed_ = listed;
    }
    RefreshChanged(*listed->game);
}

// A file of the output folder whose size is not the listed one was
// changed; so is one a swap put there, until it is extracted or packed.
void Studio::RefreshChanged(const GameReader& game)
{
    std::set<std::string> sized_otherwise;
    for (const ListedFile& file : game.Files()) {
        try {
            const auto extracted = game_.OpenExtracted(file);
            if (extracted && extracted->Size() != file.size) {
                sized_otherwise.insert(file.path);
            }
        } catch (const ExtractError&) {
            sized_otherwise.insert(file.path);  // a link or a folder in its place: not the archive's file
        }
    }
    const std::lock_guard lock(state_mutex_);
    for (auto it = changed_.begin(); it != changed_.end();) {
        it = game.Find(*it) != nullptr ? std::next(it) : changed_.erase(it);
    }
    changed_.insert(sized_otherwise.begin(), sized_otherwise.end());
}

Admission Studio::Admit(const RequestHead& head)
{
    Admission admission;
    const auto target = ParseTarget(head.target);
    const std::uint16_t port = port_.load();
    // Nothing is told to a request that fails these, not even which rule it broke.
    const auto token = target ? Query(target->query, "token") : std::nullopt;
    if (!head.host || !HostAllowed(*head.host, port) || !token || !TokensEqual(*token, options_.token) ||
        (head.method == "POST" && !OriginAllowed(head.origin, port))) {
        admission.answer = TextResponse(403, "Forbidden\n");
        return admission;
    }
    admission.trusted = true;
    if (head.method != "GET" && head.method != "POST") {
        admission.answer = Refusal(405, "only GET and POST are served");
        admission.answer->headers.emplace_back("Allow", "GET, POST");
        return admission;
    }
    const auto found = routes_.Find(head.method, target->path);
    if (!found) {
        // GETs of anything else are the page's; a POST goes nowhere else.
        if (head.method == "POST") {
            admission.answer = Refusal(404, "no such route");
        }
        return admission;
    }
    admission.body_limit = found->route->body_limit;
    if (found->route->of_a_file) {
        const auto listed = Current();
        const ListedFile* file = found->file_path ? listed->game->Find(*found->file_path) : nullptr;
        if (file == nullptr) {
            admission.answer = Refusal(404, "not a file of the listing");
            return admission;
        }
        if (found->route->takes_upload) {
            admission.answer = AdmitUpload(*file, admission);
        }
    }
    return admission;
}

// A swap's body goes to a new file beside the sound it is for: only one
// at a time, and not while a run is under way.
std::optional<Response> Studio::AdmitUpload(const ListedFile& sound, Admission& admission)
{
    if (sound.kind != EntryKind::kSound) {
        return Refusal(400, "only sounds are swapped for a new sound");
    }
    if (runs_.Running()) {
        return Refusal(409, "another run is under way: " + runs_.Current().name + "; try again when it has ended");
    }
    if (upload_under_way_.exchange(true)) {
        return Refusal(409, "another file is being sent; try again when it has arrived");
    }
    try {
        admission.upload = std::make_unique<Upload>(game_.NewReplacement(sound), upload_under_way_);
    } catch (const ExtractError& error) {
        upload_under_way_ = false;
        return FailureAnswer(error.failure());
    }
    return std::nullopt;
}

void Studio::Handle(const RequestHead& head, std::string body, std::unique_ptr<UploadFile> upload, Reply reply)
{
    const auto target = ParseTarget(head.target);
    const auto found = routes_.Find(head.method, target->path);
    if (!found) {
        ServePage(target->path, reply);
        return;
    }
    const auto listed = Current();
    RouteRequest request{.head = head,
                         .target = *target,
                         .file = found->file_path ? listed->game->Find(*found->file_path) : nullptr,
                         .game = listed->game,
                         .body = std::move(body),
                         .upload = std::move(upload)};
    if (found->route->of_a_file && request.file == nullptr) {
        reply(Refusal(404, "not a file of the listing"));  // a pack changed the listing meanwhile
        return;
    }
    try {
        found->route->handle(request, reply);
    } catch (const ExtractError& error) {
        reply(FailureAnswer(error.failure()));
    } catch (const std::exception& error) {
        reply(Refusal(500, error.what()));
    }
}

void Studio::RequestStop()
{
    runs_.StopAll();
    quit_ = true;
}

bool Studio::Finished() const
{
    return quit_ && runs_.Idle();
}

void Studio::ServePage(std::string_view path, const Reply& reply) const
{
    if (path == "/") {
        path = "/index.html";
    }
    for (const PageAsset& asset : PageAssets()) {
        if (asset.path != path) {
            continue;
        }
        Response response;
        response.content_type = std::string(asset.content_type);
        response.body = std::string(asset.bytes);
        // The page's own references carry the token, so that its assets pass the same rule.
        for (auto at = response.body.find(kTokenPlaceholder); at != std::string::npos;
             at = response.body.find(kTokenPlaceholder, at)) {
            response.body.replace(at, kTokenPlaceholder.size(), options_.token);
            at += options_.token.size();
        }
        reply(std::move(response));
        return;
    }
    reply(Refusal(404, "no such page"));
}

Response Studio::Entries() const
{
    const auto listed = Current();
    std::map<std::string, std::string> labels;
    if (options_.shared_labels) {
        labels = labels_.Labels();
    }
    std::string body;
    for (const Listed::Line& line : listed->lines) {
        if (options_.shared_labels && line.file) {
            const auto found = labels.find(listed->game->Files()[*line.file].path);
            body += WithLabel(line.json, found == labels.end() ? nullptr : &found->second);
        } else {
            body += line.json;
        }
        body += '\n';
    }
    Response response = JsonResponse(200, std::move(body));
    response.content_type = "application/jsonl; charset=utf-8";
    return response;
}

Response Studio::Status()
{
    const auto listed = Current();
    std::set<std::string> changed;
    {
        const std::lock_guard lock(state_mutex_);
        changed = changed_;
    }
    // What the folder holds in a changed file's place, described as the
    // listing describes the archive's.
    json changed_files = json::object();
    for (const std::string& path : changed) {
        const ListedFile* file = listed->game->Find(path);
        std::unique_ptr<InputFile> extracted;
        try {
            extracted = file ? game_.OpenExtracted(*file) : nullptr;
        } catch (const ExtractError&) {
        }
        if (!extracted) {
            continue;
        }
        ListedFile now = *file;
        now.size = extracted->Size();
        std::vector<std::byte> head(static_cast<std::size_t>(std::min<std::uint64_t>(now.size, Entry::kHeadSize)));
        head.resize(extracted->ReadAt(0, head));
        now.format = now.kind == EntryKind::kSound ? ReadWavFormat(head) : std::nullopt;
        changed_files[path] = json::parse(FileRecord(now), nullptr, false);
    }
    json shared = nullptr;
    if (shared_match_) {
        shared = {{"by_hash", shared_match_->by_hash},
                  {"by_path", shared_match_->by_path},
                  {"unmatched", shared_match_->unmatched}};
    }
    return JsonResponse(200, Dump(json{{"speech", listed->game->Archives().size() > 1},
                                       {"output_folder", game_.OutputFolder()},
                                       {"output_folder_shown", options_.output_folder_shown},
                                       {"labels_file", labels_.path()},
                                       {"changed", changed},
                                       {"changed_files", std::move(changed_files)},
                                       {"shared_labels", std::move(shared)},
                                       {"warning", start_warning_}}));
}

Response Studio::FileBytes(RouteRequest& request, bool extracted)
{
    const ListedFile& file = *request.file;
    std::unique_ptr<InputFile> bytes = extracted ? game_.OpenExtracted(file) : OpenListedFile(request.game, file);
    if (!bytes) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    std::optional<std::string> download;
    if (Query(request.target.query, "download") == "1") {
        download = DownloadNameOf(file, ExtensionOf(file.kind));
    }
    return ServeBytes(request, std::move(bytes),
                      file.kind == EntryKind::kSound ? "audio/wav" : "application/octet-stream", download);
}

Response Studio::ServeBytes(const RouteRequest& request, std::unique_ptr<InputFile> bytes, std::string content_type,
                            const std::optional<std::string>& download) const
{
    const RangeDecision range = DecideRange(request.head.range, bytes->Size());
    Response response;
    response.status = range.Status();
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (range.kind != RangeDecision::Kind::kWhole) {
        response.headers.emplace_back("Content-Range", range.ContentRange());
    }
    if (range.kind == RangeDecision::Kind::kUnsatisfiable) {
        response.content_type = "text/plain; charset=utf-8";
        return response;
    }
    response.content_type = std::move(content_type);
    if (download) {
        response.headers.emplace_back("Content-Disposition", Disposition(*download));
    }
    const std::uint64_t first = range.kind == RangeDecision::Kind::kPartial ? range.first : 0;
    response.stream = std::make_unique<InputFileSource>(std::move(bytes), first);
    response.stream_length = range.Length();
    return response;
}

std::string Studio::DownloadNameOf(const ListedFile& file, std::string_view extension)
{
    if (const auto label = labels_.LabelOf(file.path)) {
        return DownloadName(file.number, extension, *label);
    }
    const std::string_view name = SplitListedPath(file.path).value().file_name;
    return std::string(name.substr(0, name.rfind('.'))) + "." + std::string(extension);
}

Response Studio::Hashes()
{
    const auto listed = Current();
    json hashes = json::object();
    for (const ListedFile& file : listed->game->Files()) {
        hashes[file.path] = labels_.HashOf(*listed->game, file);
    }
    return JsonResponse(200, Dump(hashes));
}

Response Studio::RunState() const
{
    const RunSlot::State run = runs_.Current();
    return JsonResponse(200, Dump(json{{"name", run.name},
                                       {"running", run.running},
                                       {"status", run.status},
                                       {"done", run.done},
                                       {"total", run.total},
                                       {"outcome", run.outcome},
                                       {"message", run.message}}));
}

Response Studio::SaveLabel(const RouteRequest& request)
{
    const auto body = ParseRequestObject(request.body);
    if (!body || !body->contains("path") || !(*body)["path"].is_string() || !body->contains("label") ||
        !(*body)["label"].is_string()) {
        return Refusal(400, "say {\"path\": PATH, \"label\": LABEL}");
    }
    const ListedFile* file = request.game->Find((*body)["path"].get<std::string>());
    if (file == nullptr) {
        return Refusal(404, "not a file of the listing");
    }
    const std::string label = (*body)["label"].get<std::string>();
    if (const auto problem = LabelProblem(label)) {
        return Refusal(400, *problem);
    }
    labels_.Set(*request.game, file->path, label);
    return JsonResponse(200, Dump(json{{"path", file->path}, {"label", label}, {"saved", labels_.path()}}));
}

Response Studio::ImportLabels(const RouteRequest& request)
{
    const ParsedLabels parsed = ParseLabels(request.body);
    const LabelMatch match = labels_.Attach(*request.game, parsed.lines);
    labels_.Save(*request.game);
    return JsonResponse(200, Dump(json{{"by_hash", match.by_hash},
                                       {"by_path", match.by_path},
                                       {"unmatched", match.unmatched},
                                       {"rejected", parsed.rejected},
                                       {"saved", labels_.path()}}));
}

void Studio::Quit(Reply reply)
{
    Response response = JsonResponse(200, Dump(json{{"quitting", true}}));
    response.after_sent = [this] { quit_ = true; };
    runs_.StopAll();
    reply(std::move(response));
}

std::optional<Response> Studio::ReadChosenPaths(const json& body, const GameReader& game,
                                                std::vector<const ListedFile*>& chosen)
{
    if (!body.contains("paths")) {
        return std::nullopt;
    }
    const json& paths = body["paths"];
    if (!paths.is_array() || paths.empty()) {
        return Refusal(400, "paths must be a list of listed paths (leave it out for all of them)");
    }
    for (const json& item : paths) {
        if (!item.is_string()) {
            return Refusal(400, "paths must be a list of listed paths, each a string");
        }
        const ListedFile* file = game.Find(item.get<std::string>());
        if (file == nullptr) {
            return Refusal(404, "not a file of the listing: " + Echo(item.get<std::string>()));
        }
        chosen.push_back(file);
    }
    return std::nullopt;
}

void Studio::Extract(RouteRequest& request, Reply reply)
{
    const auto body = ParseRequestObject(request.body);
    if (!body) {
        reply(Refusal(400, "the body must be a JSON object"));
        return;
    }
    std::vector<const ListedFile*> chosen;
    if (auto refusal = ReadChosenPaths(*body, *request.game, chosen)) {
        reply(std::move(*refusal));
        return;
    }
    runs_.Start(
        "extract",
        [this, game = request.game, chosen](RunListener& listener) {
            game_.Extract(chosen, listener);
            {
                const std::lock_guard lock(state_mutex_);
                if (chosen.empty()) {
                    changed_.clear();
                }
                for (const ListedFile* file : chosen) {
                    changed_.erase(file->path);
                }
            }
            RefreshChanged(*game);
            const std::size_t count = chosen.empty() ? game->Files().size() : chosen.size();
            return JsonResponse(200, Dump(json{{"extracted", count}, {"folder", options_.output_folder_shown}}));
        },
        std::move(reply));
}

void Studio::Swap(RouteRequest& request, Reply reply)
{
    std::shared_ptr<UploadFile> upload(std::move(request.upload));
    if (dynamic_cast<Upload*>(upload.get()) == nullptr) {
        reply(Refusal(400, "the new file did not arrive"));
        return;
    }
    const std::string name = Echo(Query(request.target.query, "name").value_or("the new file"));
    const bool as_is = Query(request.target.query, "as_is") == "1";
    const bool dry_run = Query(request.target.query, "dry_run") == "1";
    runs_.Start(
        dry_run ? "fitting" : "swap",
        [this, game = request.game, sound = request.file, upload, name, as_is,
         query = request.target.query](RunListener& listener) mutable {
            // The new file lives as long as its request: gone with the run's
            // answer unless the swap took it.
            const std::shared_ptr<UploadFile> held = std::exchange(upload, nullptr);
            GameFolder::Replacement& replacement = dynamic_cast<Upload&>(*held).replacement();
            return as_is ? SwapIn(*game, *sound, replacement, name, listener)
                         : FitAndSwap(game, *sound, replacement, name, query, listener);
        },
        std::move(reply));
}

std::string Studio::WhatStays(const ListedFile& sound)
{
    const std::lock_guard lock(state_mutex_);
    return sound.path + " keeps " +
           (changed_.contains(sound.path) ? "the sound swapped in before" : "the archive's own sound") + ".";
}

Response Studio::RefusedSwap(const ListedFile& sound, const std::string& name, const PackRefused& refusal,
                             const std::string& stays) const
{
    const std::string about = refusal.file() == game_.ExtractedPath(sound) ? "" : refusal.file() + ": ";
    return Refusal(422,
                   name + " cannot take its place: " + about + refusal.reason() + ": choose another file. " + stays);
}

Response Studio::SwapIn(const GameReader& game, const ListedFile& sound, GameFolder::Replacement& replacement,
                        const std::string& name, RunListener& listener)
{
    const std::string stays = WhatStays(sound);
    const auto uploaded = game_.files().OpenRegularFile(replacement.path());
    if (const auto problem = ReplacementProblem(*uploaded, name)) {
        return Refusal(422, *problem + ". " + stays);
    }
    try {
        game_.Swap(sound, replacement, listener);
    } catch (const PackRefused& refusal) {
        return RefusedSwap(sound, name, refusal, stays);
    }
    RefreshChanged(game);
    const std::lock_guard lock(state_mutex_);
    changed_.insert(sound.path);
    return JsonResponse(200, Dump(json{{"changed", true}}));
}

void Studio::Undo(RouteRequest& request, Reply reply)
{
    const ListedFile* file = request.file;
    runs_.Start(
        "undo",
        [this, game = request.game, file](RunListener& listener) {
            game_.Undo(*file, listener);
            const std::lock_guard lock(state_mutex_);
            changed_.erase(file->path);
            return JsonResponse(200, Dump(json{{"changed", false}}));
        },
        std::move(reply));
}

void Studio::Pack(RouteRequest& request, Reply reply)
{
    const auto body = ParseRequestObject(request.body);
    if (!body || !body->contains("dry_run") || !(*body)["dry_run"].is_boolean()) {
        reply(Refusal(400, "say {\"dry_run\": true} or {\"dry_run\": false}"));
        return;
    }
    const PackMode mode = (*body)["dry_run"].get<bool>() ? PackMode::kDryRun : PackMode::kReplace;
    runs_.Start(
        mode == PackMode::kDryRun ? "dry run" : "pack",
        [this, mode](RunListener& listener) {
            PackReportJson report(listener, mode);
            if (mode == PackMode::kReplace) {
                // The archives are let go of until the pack has ended: on
                // Windows a new archive cannot take the name of an open one.
                const std::lock_guard lock(state_mutex_);
                auto listing_only = std::make_shared<Listed>(*listed_);
                listing_only->game = listed_->game->ListingOnly();
                listed_ = std::move(listing_only);
            }
            RunEnd end = RunEnd::kFailed;
            try {
                end = game_.Pack(mode, report);
            } catch (...) {
                if (mode == PackMode::kReplace) {
                    Relist();
                }
                throw;
            }
            if (end == RunEnd::kCancelled) {
                if (mode == PackMode::kReplace) {
                    Relist();
                }
                throw Cancelled();
            }
            if (mode == PackMode::kReplace) {
                Relist();
                // An archive packed now holds what its folder holds.
                const std::lock_guard lock(state_mutex_);
                for (const std::string& archive : report.packed()) {
                    std::erase_if(changed_, [&](const std::string& path) { return path.starts_with(archive + "/"); });
                }
            }
            if (mode == PackMode::kReplace && options_.index_ahead) {
                StartIndexing();  // the packed sounds, once this run has ended
            }
            return JsonResponse(200, Dump(report.Report()));
        },
        std::move(reply));
}

}  // namespace quorvel::studio

#include "studio/studio.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "app/listing_records.hpp"
#include "studio/http_range.hpp"
#include "studio/request_policy.hpp"
#include "studio/text_file.hpp"
#include "studio/wav_peaks.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quorvel::studio {
namespace {

using nlohmann::json;

// Limits on what a request may carry, per route.
constexpr std::uint64_t kSmallBody = 64 << 10;           // a label, a pack's options
constexpr std::uint64_t kListBody = 16 << 20;            // a shared labels list, a choice of files
constexpr std::uint64_t kLargestUpload = 0x7FFFFFFFULL;  // the largest block's length field
constexpr std::uint64_t kLargestLabelsFile = 64 << 20;
constexpr std::uint32_t kDefaultBuckets = 1000;
constexpr std::size_t kHashPiece = 1 << 16;

constexpr std::string_view kTokenPlaceholder = "@TOKEN@";

std::string Dump(const json& value)
{
    // Invalid UTF-8 (from an archive's names, say) must not end the answer.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

Response Refusal(int status, std::string_view why)
{
    return JsonResponse(status, Dump(json{{"error", why}}));
}

bool IsPost(const RequestHead& head)
{
    return head.method == "POST";
}

std::optional<std::string> Query(const std::map<std::string, std::string>& query, const std::string& key)
{
    const auto found = query.find(key);
    return found == query.end() ? std::nullopt : std::optional(found->second);
}

// RFC 5987: a UTF-8 file name for Content-Disposition, and a plain
// fallback for clients that read only the old form.
std::string Disposition(const std::string& name)
{
    std::string plain;
    std::string encoded;
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= '0' && byte <= '9') || c == '.' || c == '-' || c == '_';
        plain += byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' ? c : '_';
        if (safe) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0xF];
        }
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

float Rounded(float value)
{
    return std::round(value * 10000.0F) / 10000.0F;
}

json PeaksJson(const Peaks& peaks)
{
    json channels = json::array();
    for (std::uint32_t channel = 0; channel < peaks.channels; ++channel) {
        json pairs = json::array();
        for (std::uint32_t bucket = 0; bucket < peaks.buckets; ++bucket) {
            const std::size_t slot = std::size_t{channel} * peaks.buckets + bucket;
            pairs.push_back({Rounded(peaks.min[slot]), Rounded(peaks.max[slot])});
        }
        channels.push_back(std::move(pairs));
    }
    return json{{"channels", peaks.channels},
                {"rate", peaks.sample_rate},
                {"frames", peaks.frames},
                {"n", peaks.buckets},
                {"peaks", std::move(channels)}};
}

json ReportJson(const PackReport& report)
{
    json archives = json::array();
    for (const ArchiveReport& archive : report.archives) {
        json changes = json::array();
        for (const BlockReport& change : archive.changes) {
            changes.push_back({{"offset", change.offset},
                               {"old_size", change.old_size},
                               {"new_size", change.new_size},
                               {"files", change.files},
                               {"final_field", change.final_field}});
        }
        archives.push_back({{"archive", archive.archive},
                            {"old_size", archive.old_size},
                            {"new_size", archive.new_size},
                            {"blocks", archive.blocks},
                            {"changes", std::move(changes)},
                            {"ignored", archive.ignored},
                            {"repaired", archive.repaired ? json(*archive.repaired) : json(nullptr)},
                            {"refused", archive.refused ? json(*archive.refused) : json(nullptr)},
                            {"result", archive.result}});
    }
    return json{{"dry_run", report.dry_run}, {"archives", std::move(archives)}};
}

}  // namespace

// The label key added to a file's record: `{..., "label": "door creak"}`.
std::string WithLabel(std::string_view record, const std::string* label)
{
    if (record.empty() || record.back() != '}') {
        return std::string(record);
    }
    const std::string value = label ? quorvel::JsonString(*label) : "null";
    return std::string(record.substr(0, record.size() - 1)) + ", \"label\": " + value + "}";
}

namespace {

Response BodyResponse(int status, std::string content_type, std::string body)
{
    Response response;
    response.status = status;
    response.content_type = std::move(content_type);
    response.body = std::move(body);
    return response;
}

}  // namespace

Response TextResponse(int status, std::string text)
{
    return BodyResponse(status, "text/plain; charset=utf-8", std::move(text));
}

Response JsonResponse(int status, std::string json_text)
{
    return BodyResponse(status, "application/json", std::move(json_text));
}

// The run's reports, kept for GET /api/run, and its stop request.
class Studio::Reporter final : public RunReporter {
public:
    explicit Reporter(Studio& studio) : studio_(studio) {}

    void Status(std::string_view text) override
    {
        const std::lock_guard lock(studio_.run_mutex_);
        studio_.run_.status = std::string(text);
    }
    void Progress(std::uint64_t done, std::uint64_t total) override
    {
        const std::lock_guard lock(studio_.run_mutex_);
        studio_.run_.done = done;
        studio_.run_.total = total;
    }
    bool StopRequested() const override { return studio_.stop_.load(); }

private:
    Studio& studio_;
};

Studio::Studio(StudioBackend& backend, StudioOptions options) : backend_(backend), options_(std::move(options)) {}

Studio::~Studio()
{
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void Studio::Start()
{
    Relist();
    std::vector<LabelLine> lines;
    try {
        if (const auto text = ReadTextFile(PathFromUtf8(LabelsPath()), kLargestLabelsFile)) {
            lines = ParseLabels(*text).lines;
        }
    } catch (const std::runtime_error& error) {
        throw RunFailed(error.what());
    }
    if (!lines.empty()) {
        AttachLabels(lines);
    }
    if (options_.shared_labels) {
        shared_match_ = AttachLabels(ParseLabels(*options_.shared_labels).lines);
        // Given on the command line, the list is the user's to keep: it goes
        // into the labels file at once, as one dropped on the page does.
        try {
            SaveLabelsFile();
        } catch (const std::exception& error) {
            start_warning_ = std::string("the labels were not saved: ") + error.what();
        }
    }
}

std::string Studio::LabelsPath() const
{
    const std::string folder = backend_.OutputFolder();
    return folder.empty() ? std::string(kLabelsFileName) : folder + "/" + std::string(kLabelsFileName);
}

std::shared_ptr<const Studio::Snapshot> Studio::Current() const
{
    const std::lock_guard lock(state_mutex_);
    return snapshot_;
}

const ListedFile* Studio::Find(const Snapshot& snapshot, const std::string& path) const
{
    const auto found = snapshot.index.find(path);
    return found == snapshot.index.end() ? nullptr : &snapshot.listing.files[found->second];
}

void Studio::Relist()
{
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->listing = backend_.List();
    for (std::size_t i = 0; i < snapshot->listing.files.size(); ++i) {
        snapshot->index.emplace(snapshot->listing.files[i].path, i);
    }
    {
        const std::lock_guard lock(state_mutex_);
        snapshot_ = snapshot;
        hashes_.clear();
    }
    RefreshChanged(*snapshot);
}

// A file of the output folder whose size is not the listed one was
// changed; so is one a swap put there, until it is extracted or packed.
void Studio::RefreshChanged(const Snapshot& snapshot)
{
    std::set<std::string> sized_otherwise;
    for (const ListedFile& file : snapshot.listing.files) {
        const auto size = backend_.OutputSize(file);
        if (size && *size != file.size) {
            sized_otherwise.insert(file.path);
        }
    }
    const std::lock_guard lock(state_mutex_);
    for (auto it = changed_.begin(); it != changed_.end();) {
        it = snapshot.index.contains(*it) ? std::next(it) : changed_.erase(it);
    }
    changed_.insert(sized_otherwise.begin(), sized_otherwise.end());
}

Admission Studio::Admit(const RequestHead& head)
{
    Admission admission;
    const auto target = ParseTarget(head.target);
    const std::uint16_t port = port_.load();
    // Nothing is told to a request that fails these, not even which rule it broke.
    if (!head.host || !HostAllowed(*head.host, port) || !target) {
        admission.answer = TextResponse(403, "Forbidden\n");
        return admission;
    }
    const auto token = Query(target->query, "token");
    if (!token || !TokensEqual(*token, options_.token)) {
        admission.answer = TextResponse(403, "Forbidden\n");
        return admission;
    }
    if (IsPost(head)) {
        if (!OriginAllowed(head.origin, port)) {
            admission.answer = TextResponse(403, "Forbidden\n");
            return admission;
        }
    } else if (head.method != "GET") {
        admission.answer = Refusal(405, "only GET and POST are served");
        admission.answer->headers.emplace_back("Allow", "GET, POST");
        return admission;
    }
    if (!IsPost(head)) {
        admission.body_limit = 0;
    } else if (target->path.starts_with("/api/swap/")) {
        const auto snapshot = Current();
        const auto path = ListedPath(target->path, "/api/swap/");
        const ListedFile* file = path ? Find(*snapshot, *path) : nullptr;
        if (file == nullptr) {
            admission.answer = Refusal(404, "not a file of the listing");
            return admission;
        }
        if (file->kind != "sound") {
            admission.answer = Refusal(400, "only sounds are swapped for a WAV file");
            return admission;
        }
        {
            const std::lock_guard lock(run_mutex_);
            if (run_.running) {
                admission.answer = Refusal(409, "another run is under way: " + run_.name);
                return admission;
            }
        }
        try {
            admission.upload = backend_.CreateUpload();
        } catch (const RunFailed& failure) {
            admission.answer = Refusal(500, failure.what());
            return admission;
        }
        admission.body_limit = kLargestUpload;
    } else if (target->path == "/api/labels/import" || target->path == "/api/extract") {
        admission.body_limit = kListBody;
    } else {
        admission.body_limit = kSmallBody;
    }
    return admission;
}

void Studio::Handle(const RequestHead& head, std::string body, std::unique_ptr<UploadFile> upload, Reply reply)
{
    const auto target = ParseTarget(head.target);
    bool deferred = false;
    Response response;
    try {
        response = Route(head, *target, std::move(body), std::move(upload), reply, deferred);
    } catch (const RunFailed& failure) {
        response = Refusal(500, failure.what());
    } catch (const std::exception& error) {
        response = Refusal(500, error.what());
    }
    if (!deferred) {
        reply(std::move(response));
    }
}

Response Studio::Route(const RequestHead& head, const Target& target, std::string body,
                       std::unique_ptr<UploadFile> upload, const Reply& reply, bool& deferred)
{
    const std::string& path = target.path;
    const auto snapshot = Current();
    const auto listed = [&](std::string_view prefix) -> const ListedFile* {
        const auto file_path = ListedPath(path, prefix);
        return file_path ? Find(*snapshot, *file_path) : nullptr;
    };
    if (!IsPost(head)) {
        if (path == "/api/entries") {
            return ServeEntries();
        }
        if (path == "/api/status") {
            return ServeStatus();
        }
        if (path == "/api/labels") {
            return ServeLabels();
        }
        if (path == "/api/hashes") {
            return ServeHashes();
        }
        if (path == "/api/run") {
            return ServeRun();
        }
        for (const bool from_output : {false, true}) {
            const std::string_view prefix = from_output ? "/api/output/" : "/api/file/";
            if (path.starts_with(prefix)) {
                const ListedFile* file = listed(prefix);
                if (file == nullptr) {
                    return Refusal(404, "not a file of the listing");
                }
                return ServeFile(head, *file, from_output, Query(target.query, "download") == "1");
            }
        }
        if (path.starts_with("/api/peaks/")) {
            const ListedFile* file = listed("/api/peaks/");
            if (file == nullptr) {
                return Refusal(404, "not a file of the listing");
            }
            return ServePeaks(*file, target.query);
        }
        return ServePage(path);
    }

    if (path == "/api/labels") {
        return SaveLabel(body);
    }
    if (path == "/api/labels/import") {
        return ImportLabels(body);
    }
    if (path == "/api/quit") {
        Response response = JsonResponse(200, Dump(json{{"quitting", true}}));
        response.after_sent = [this] { quit_ = true; };
        {
            const std::lock_guard lock(run_mutex_);
            if (run_.running) {
                stopped_a_run_ = true;
                stop_ = true;
            }
        }
        return response;
    }
    const json options = body.empty() ? json::object() : json::parse(body, nullptr, false);
    if (options.is_discarded() || !options.is_object()) {
        return Refusal(400, "the body must be a JSON object");
    }
    deferred = true;
    if (path == "/api/extract") {
        std::vector<const ListedFile*> chosen;
        if (options.contains("paths")) {
            if (!options["paths"].is_array() || options["paths"].empty()) {
                deferred = false;
                return Refusal(400, "paths must be a list of listed paths (leave it out for all of them)");
            }
            for (const auto& item : options["paths"]) {
                const ListedFile* file = item.is_string() ? Find(*snapshot, item.get<std::string>()) : nullptr;
                if (file == nullptr) {
                    deferred = false;
                    return Refusal(
                        404, "not a file of the listing: " + (item.is_string() ? item.get<std::string>() : Dump(item)));
                }
                chosen.push_back(file);
            }
        }
        StartRun(
            "extract",
            [this, snapshot, chosen](RunReporter& reporter) {
                backend_.Extract(chosen, reporter);
                {
                    const std::lock_guard lock(state_mutex_);
                    if (chosen.empty()) {
                        changed_.clear();
                    }
                    for (const ListedFile* file : chosen) {
                        changed_.erase(file->path);
                    }
                }
                RefreshChanged(*snapshot);
                const std::size_t count = chosen.empty() ? snapshot->listing.files.size() : chosen.size();
                return JsonResponse(200, Dump(json{{"extracted", count}}));
            },
            reply);
        return {};
    }
    if (path.starts_with("/api/swap/") || path.starts_with("/api/undo/")) {
        const bool swap = path.starts_with("/api/swap/");
        const ListedFile* file = listed(swap ? "/api/swap/" : "/api/undo/");
        if (file == nullptr || (swap && !upload)) {
            deferred = false;
            return Refusal(404, "not a file of the listing");
        }
        std::shared_ptr<UploadFile> shared_upload(std::move(upload));
        StartRun(
            swap ? "swap" : "undo",
            [this, snapshot, file, swap, shared_upload](RunReporter& reporter) {
                if (!swap) {
                    backend_.Undo(*file, reporter);
                    const std::lock_guard lock(state_mutex_);
                    changed_.erase(file->path);
                    return JsonResponse(200, Dump(json{{"changed", false}}));
                }
                const SwapOutcome outcome = backend_.Swap(*file, *shared_upload, reporter);
                if (!outcome.accepted) {
                    return Refusal(422, outcome.refusal);
                }
                RefreshChanged(*snapshot);
                const std::lock_guard lock(state_mutex_);
                changed_.insert(file->path);
                return JsonResponse(200, Dump(json{{"changed", true}}));
            },
            reply);
        return {};
    }
    if (path == "/api/pack") {
        if (!options.contains("dry_run") || !options["dry_run"].is_boolean()) {
            deferred = false;
            return Refusal(400, "say {\"dry_run\": true} or {\"dry_run\": false}");
        }
        const bool dry_run = options["dry_run"].get<bool>();
        StartRun(
            dry_run ? "dry run" : "pack",
            [this, dry_run](RunReporter& reporter) {
                const PackReport report = backend_.Pack(dry_run, reporter);
                if (!dry_run) {
                    Relist();
                    const auto snapshot = Current();
                    const std::lock_guard lock(state_mutex_);
                    for (const ArchiveReport& archive : report.archives) {
                        if (archive.refused) {
                            continue;
                        }
                        // The archive now holds what its folder holds.
                        const std::string name = archive.archive.substr(0, archive.archive.find('.'));
                        for (auto it = changed_.begin(); it != changed_.end();) {
                            it = it->starts_with(name + "/") ? changed_.erase(it) : std::next(it);
                        }
                    }
                }
                return JsonResponse(200, Dump(ReportJson(report)));
            },
            reply);
        return {};
    }
    deferred = false;
    return Refusal(404, "no such route");
}

void Studio::StartRun(std::string name, Work work, Reply reply)
{
    const std::lock_guard lock(run_mutex_);
    if (run_.running) {
        reply(Refusal(409, "another run is under way: " + run_.name));
        return;
    }
    if (stop_ || quit_) {
        reply(Refusal(503, "the studio is ending"));
        return;
    }
    if (worker_.joinable()) {
        worker_.join();  // the last run, ended: its thread has nothing left to do
    }
    run_ = RunState{.name = name, .running = true, .status = "", .done = 0, .total = 0, .outcome = "", .message = ""};
    worker_ = std::thread([this, work = std::move(work), reply = std::move(reply)] {
        Reporter reporter(*this);
        Response response;
        std::string outcome = "done";
        std::string message;
        try {
            response = work(reporter);
            if (response.status == 422) {
                outcome = "refused";
                message = json::parse(response.body, nullptr, false).value("error", "");
            }
        } catch (const RunStopped&) {
            outcome = "stopped";
            message = "stopped";
            response = Refusal(503, "the run was stopped");
        } catch (const std::exception& error) {
            outcome = "failed";
            message = error.what();
            response = Refusal(500, error.what());
        }
        {
            // Ended before it answers, so that whoever reads the answer may
            // start the next run at once; the studio waits for the answer
            // to be handed over before it ends.
            const std::lock_guard run_lock(run_mutex_);
            run_.outcome = outcome;
            run_.message = message;
            run_.running = false;
            ++answers_pending_;
        }
        reply(std::move(response));
        --answers_pending_;
    });
}

void Studio::RequestStop()
{
    const std::lock_guard lock(run_mutex_);
    if (run_.running) {
        stopped_a_run_ = true;
    }
    stop_ = true;
    quit_ = true;
}

bool Studio::Finished() const
{
    const std::lock_guard lock(run_mutex_);
    return quit_ && !run_.running && answers_pending_ == 0;
}

Response Studio::ServePage(std::string_view path) const
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
        return response;
    }
    return Refusal(404, "no such page");
}

Response Studio::ServeEntries() const
{
    const auto snapshot = Current();
    std::map<std::string, std::string> labels;
    if (options_.shared_labels) {
        const std::lock_guard lock(state_mutex_);
        labels = labels_;
    }
    std::string body;
    for (const Listing::Line& line : snapshot->listing.lines) {
        if (options_.shared_labels && line.file) {
            const auto found = labels.find(snapshot->listing.files[*line.file].path);
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

// The size of the archive's file, or of the output folder's file of that
// name (nothing when there is none).
std::optional<std::uint64_t> Studio::SizeOf(const ListedFile& file, bool from_output)
{
    return from_output ? backend_.OutputSize(file) : std::optional<std::uint64_t>(file.size);
}

Response Studio::ServeFile(const RequestHead& head, const ListedFile& file, bool from_output, bool download)
{
    const auto found = SizeOf(file, from_output);
    if (!found) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    const std::uint64_t size = *found;
    const RangeDecision range = DecideRange(head.range, size);
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
    response.content_type = file.kind == "sound" ? "audio/wav" : "application/octet-stream";
    if (download) {
        std::string label;
        {
            const std::lock_guard lock(state_mutex_);
            if (const auto found = labels_.find(file.path); found != labels_.end()) {
                label = found->second;
            }
        }
        response.headers.emplace_back("Content-Disposition", Disposition(DownloadName(file.file_name, label)));
    }
    const std::uint64_t first = range.kind == RangeDecision::Kind::kPartial ? range.first : 0;
    response.stream = from_output ? backend_.OpenOutput(file, first) : backend_.OpenListed(file, first);
    response.stream_length = range.Length();
    return response;
}

Response Studio::ServePeaks(const ListedFile& file, const std::map<std::string, std::string>& query)
{
    std::uint32_t buckets = kDefaultBuckets;
    if (const auto n = Query(query, "n")) {
        const bool digits = !n->empty() && n->size() <= 5 &&
                            std::all_of(n->begin(), n->end(), [](char c) { return c >= '0' && c <= '9'; });
        buckets = digits ? static_cast<std::uint32_t>(std::stoul(*n)) : 0;
        if (buckets == 0 || buckets > kMostBuckets) {
            return Refusal(400, "n must be 1 to " + std::to_string(kMostBuckets));
        }
    }
    const bool from_output = Query(query, "from") == "output";
    const auto found = SizeOf(file, from_output);
    if (!found) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    const std::uint64_t size = *found;
    std::optional<Peaks> peaks;
    if (file.kind == "sound") {
        const auto source = from_output ? backend_.OpenOutput(file, 0) : backend_.OpenListed(file, 0);
        peaks = ComputePeaks(*source, size, buckets);
    }
    if (!peaks) {
        return JsonResponse(200, Dump(json{{"channels", 0}, {"n", buckets}, {"peaks", nullptr}}));
    }
    return JsonResponse(200, Dump(PeaksJson(*peaks)));
}

std::string HashListed(StudioBackend& backend, const ListedFile& file)
{
    const auto source = backend.OpenListed(file, 0);
    XXH64_state_t state;
    XXH64_reset(&state, 0);
    std::vector<std::byte> piece(kHashPiece);
    for (std::uint64_t left = file.size; left > 0;) {
        const std::size_t got = source->Read(std::span(piece).first(std::min<std::uint64_t>(left, piece.size())));
        if (got == 0) {
            throw RunFailed(file.path + ": the archive ended before the file did");
        }
        XXH64_update(&state, piece.data(), got);
        left -= got;
    }
    return HashText(XXH64_digest(&state));
}

std::string Studio::HashOf(const ListedFile& file)
{
    {
        const std::lock_guard lock(state_mutex_);
        if (const auto found = hashes_.find(file.path); found != hashes_.end()) {
            return found->second;
        }
    }
    std::string hash = HashListed(backend_, file);
    const std::lock_guard lock(state_mutex_);
    hashes_[file.path] = hash;
    return hash;
}

void Studio::HashAll(const Snapshot& snapshot)
{
    for (const ListedFile& file : snapshot.listing.files) {
        HashOf(file);
    }
}

Response Studio::ServeHashes()
{
    const auto snapshot = Current();
    HashAll(*snapshot);
    json hashes = json::object();
    const std::lock_guard lock(state_mutex_);
    for (const ListedFile& file : snapshot->listing.files) {
        hashes[file.path] = hashes_[file.path];
    }
    return JsonResponse(200, Dump(hashes));
}

Response Studio::ServeStatus() const
{
    const auto snapshot = Current();
    json changed = json::array();
    {
        const std::lock_guard lock(state_mutex_);
        for (const std::string& path : changed_) {
            changed.push_back(path);
        }
    }
    json shared = nullptr;
    if (shared_match_) {
        shared = {{"by_hash", shared_match_->by_hash},
                  {"by_path", shared_match_->by_path},
                  {"unmatched", shared_match_->unmatched}};
    }
    return JsonResponse(200, Dump(json{{"speech", snapshot->listing.speech},
                                       {"output_folder", backend_.OutputFolder()},
                                       {"labels_file", LabelsPath()},
                                       {"changed", std::move(changed)},
                                       {"shared_labels", std::move(shared)},
                                       {"warning", start_warning_}}));
}

Response Studio::ServeLabels() const
{
    const std::lock_guard lock(state_mutex_);
    return JsonResponse(200, Dump(json(labels_)));
}

Response Studio::ServeRun() const
{
    const std::lock_guard lock(run_mutex_);
    return JsonResponse(200, Dump(json{{"name", run_.name},
                                       {"running", run_.running},
                                       {"status", run_.status},
                                       {"done", run_.done},
                                       {"total", run_.total},
                                       {"outcome", run_.outcome},
                                       {"message", run_.message}}));
}

Response Studio::SaveLabel(const std::string& body)
{
    const json request = json::parse(body, nullptr, false);
    if (request.is_discarded() || !request.is_object() || !request.contains("path") || !request["path"].is_string() ||
        !request.contains("label") || !request["label"].is_string()) {
        return Refusal(400, "say {\"path\": PATH, \"label\": LABEL}");
    }
    const auto snapshot = Current();
    const ListedFile* file = Find(*snapshot, request["path"].get<std::string>());
    if (file == nullptr) {
        return Refusal(404, "not a file of the listing");
    }
    const std::string label = request["label"].get<std::string>();
    if (const auto problem = LabelProblem(label)) {
        return Refusal(400, *problem);
    }
    std::optional<std::string> before;
    {
        const std::lock_guard lock(state_mutex_);
        if (const auto found = labels_.find(file->path); found != labels_.end()) {
            before = found->second;
        }
        if (label.empty()) {
            labels_.erase(file->path);
        } else {
            labels_[file->path] = label;
        }
    }
    try {
        SaveLabelsFile();
    } catch (const std::exception& error) {
        // What the page shows must be what the file holds.
        const std::lock_guard lock(state_mutex_);
        if (before) {
            labels_[file->path] = *before;
        } else {
            labels_.erase(file->path);
        }
        return Refusal(500, error.what());
    }
    return JsonResponse(200, Dump(json{{"path", file->path}, {"label", label}, {"saved", LabelsPath()}}));
}

LabelMatch Studio::AttachLabels(const std::vector<LabelLine>& lines)
{
    const auto snapshot = Current();
    HashAll(*snapshot);
    std::vector<LabelTarget> targets;
    targets.reserve(snapshot->listing.files.size());
    {
        const std::lock_guard lock(state_mutex_);
        for (const ListedFile& file : snapshot->listing.files) {
            targets.push_back(LabelTarget{.path = file.path, .hash = hashes_[file.path]});
        }
    }
    LabelMatch match = MatchLabels(lines, targets);
    const std::lock_guard lock(state_mutex_);
    for (const auto& [path, label] : match.labels) {
        labels_[path] = label;
    }
    return match;
}

Response Studio::ImportLabels(const std::string& text)
{
    const ParsedLabels parsed = ParseLabels(text);
    const LabelMatch match = AttachLabels(parsed.lines);
    try {
        SaveLabelsFile();
    } catch (const std::exception& error) {
        return Refusal(500, error.what());
    }
    return JsonResponse(200, Dump(json{{"by_hash", match.by_hash},
                                       {"by_path", match.by_path},
                                       {"unmatched", match.unmatched},
                                       {"rejected", parsed.rejected},
                                       {"saved", LabelsPath()}}));
}

void Studio::SaveLabelsFile()
{
    const auto snapshot = Current();
    std::map<std::string, std::string> labels;
    {
        const std::lock_guard lock(state_mutex_);
        labels = labels_;
    }
    std::vector<LabelLine> lines;
    for (const ListedFile& file : snapshot->listing.files) {
        if (const auto found = labels.find(file.path); found != labels.end()) {
            lines.push_back(LabelLine{.path = file.path, .hash = HashOf(file), .label = found->second});
        }
    }
    ReplaceFile(PathFromUtf8(LabelsPath()), FormatLabels(lines));
}

}  // namespace quorvel::studio

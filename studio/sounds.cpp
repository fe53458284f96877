// The studio's sounds as sounds: every encoding decoded for the browser to
// play and draw, exported in the formats players take, and a new sound
// fitted to the one it replaces before it is swapped in.

#include <algorithm>
#include <boost/beast/core/detail/base64.hpp>
#include <cmath>

#include "app/export_run.hpp"
#include "app/find_run.hpp"
#include "app/replace_run.hpp"
#include "audio/decoded_wav.hpp"
#include "audio/memory_input.hpp"
#include "audio/sound_export.hpp"
#include "audio/sound_peaks.hpp"
#include "audio/spectrogram.hpp"
#include "audio/temporary_store.hpp"
#include "labels/label_names.hpp"
#include "pack/pack_refused.hpp"
#include "studio/answers.hpp"
#include "studio/studio.hpp"

namespace quorvel::studio {
namespace {

using nlohmann::json;

constexpr std::uint32_t kDefaultBuckets = 1000;
// A failed export names this many of its sounds; the rest are counted.
constexpr std::size_t kMostFailuresTold = 100;
// The most sounds a search answers with.
constexpr std::uint32_t kMostFound = 1000;

// A stored sound's decoded WAV, with the bytes it decodes from.
class DecodedFile final : public InputFile {
public:
    DecodedFile(std::unique_ptr<InputFile> stored, const std::string& name)
        : stored_(std::move(stored)), wav_(audio::DecodedWav::Open(*stored_, name))
    {
    }
    std::uint64_t Size() override { return wav_->Size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        return wav_->ReadAt(offset, buffer);
    }

private:
    std::unique_ptr<InputFile> stored_;
    std::unique_ptr<audio::DecodedWav> wav_;
};

// Bytes made for one answer (an exported file, a fitted sound), read by as
// many answers as ask for them: memory up to the store's limit, then a
// temporary file.
class StoredBytes final : public InputFile {
public:
    explicit StoredBytes(std::shared_ptr<audio::TemporaryStore> store) : store_(std::move(store)) {}
    std::uint64_t Size() override { return store_->Size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        return store_->ReadAt(offset, buffer);
    }

private:
    std::shared_ptr<audio::TemporaryStore> store_;
};

class StoreOutput final : public OutputFile {
public:
    explicit StoreOutput(audio::TemporaryStore& store) : store_(store) {}
    void Write(std::span<const std::byte> bytes) override { store_.Append(bytes); }
    bool WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override
    {
        store_.WriteAt(offset, bytes);
        return true;
    }
    void Close() override {}
    void Abandon() noexcept override {}

private:
    audio::TemporaryStore& store_;
};

std::string_view ContentTypeOf(audio::ExportFormat format)
{
    switch (format) {
        case audio::ExportFormat::kWav:
            return "audio/wav";
        case audio::ExportFormat::kFlac:
            return "audio/flac";
        case audio::ExportFormat::kOgg:
        case audio::ExportFormat::kOpus:
            return "audio/ogg";
        case audio::ExportFormat::kMp3:
            return "audio/mpeg";
    }
    return "application/octet-stream";
}

float Rounded(float value)
{
    return std::round(value * 10000.0F) / 10000.0F;
}

json PeaksJson(const audio::Peaks& peaks)
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

// "?KEY=" as a count from 1 to `most`, `fallback` when not given, or nothing
// where it is not one.
std::optional<std::uint32_t> CountAsked(const std::map<std::string, std::string>& query, const std::string& key,
                                        std::uint32_t most, std::uint32_t fallback)
{
    const auto n = Query(query, key);
    if (!n) {
        return fallback;
    }
    const bool digits =
        !n->empty() && n->size() <= 5 && std::all_of(n->begin(), n->end(), [](char c) { return c >= '0' && c <= '9'; });
    const auto count = digits ? static_cast<std::uint32_t>(std::stoul(*n)) : 0;
    if (count == 0 || count > most) {
        return std::nullopt;
    }
    return count;
}

// Bytes as base64 (Boost.Beast's encoder, which the server already carries).
std::string Base64(const std::vector<std::uint8_t>& bytes)
{
    namespace base64 = boost::beast::detail::base64;
    std::string text(base64::encoded_size(bytes.size()), '\0');
    text.resize(base64::encode(text.data(), bytes.data(), bytes.size()));
    return text;
}

// A run over the game's sounds told to the studio's run: the speech
// question answered beforehand, the status and progress passed on, the
// sounds that failed kept (the first kMostFailuresTold) for the answer.
template <typename Report>
class RunAnswer : public Report {
public:
    RunAnswer(RunListener& listener, bool with_speech) : listener_(listener), with_speech_(with_speech) {}

    bool AskYesNo(std::string_view /*question*/) override { return with_speech_; }
    void StatusChanged(std::string_view text) override { listener_.StatusChanged(text); }
    void Progress(std::uint64_t done, std::uint64_t total) override { listener_.Progress(done, total); }
    void SoundFailed(std::string_view line) override
    {
        if (failures_.size() < kMostFailuresTold) {
            failures_.emplace_back(line);
        }
    }

protected:
    std::vector<std::string> failures_;

private:
    RunListener& listener_;
    bool with_speech_;
};

// What an export run tells, kept for its answer.
class ExportAnswer final : public RunAnswer<ExportReport> {
public:
    using RunAnswer::RunAnswer;

    void ArchiveExported(const ExportTally& tally) override
    {
        exported_ += tally.exported;
        failed_ += tally.failed;
        left_ += tally.left;
    }
    void ReportError(const Failure& failure) override { failure_ = failure; }
    void ReportWarning(std::string_view text) override { warnings_.emplace_back(text); }

    const std::optional<Failure>& failure() const { return failure_; }
    json Answer(const std::string& folder) const
    {
        return json{{"exported", exported_}, {"failed", failed_},     {"left", left_},
                    {"folder", folder},      {"failures", failures_}, {"warnings", warnings_}};
    }

private:
    std::uint64_t exported_ = 0;
    std::uint64_t failed_ = 0;
    std::uint64_t left_ = 0;
    std::vector<std::string> warnings_;
    std::optional<Failure> failure_;
};

// What a search tells, kept for its answer.
class FindAnswer final : public RunAnswer<FindReport> {
public:
    using RunAnswer::RunAnswer;

    void Indexed(std::size_t sounds, std::size_t fingerprinted) override
    {
        sounds_ = sounds;
        fingerprinted_ = fingerprinted;
    }
    void IndexNotKept(const Failure& failure) override { not_kept_ = failure; }
    void ReportError(const Failure& failure) override { failure_ = failure; }
    void ReportWarning(std::string_view /*text*/) override {}
    const std::optional<Failure>& not_kept() const { return not_kept_; }

    // Throws what ended the run, if anything did.
    void ThrowUnlessDone(RunEnd end) const
    {
        if (end == RunEnd::kCancelled) {
            throw Cancelled();
        }
        if (failure_) {
            throw ExtractError(*failure_);
        }
    }
    json Answer(const std::vector<FoundSound>& found, bool with_offsets) const
    {
        json sounds = json::array();
        for (const FoundSound& sound : found) {
            json one{{"path", sound.path}, {"score", sound.score}};
            if (with_offsets) {
                one["offset"] = std::round(sound.seconds * 1000) / 1000;
            }
            sounds.push_back(std::move(one));
        }
        return json{{with_offsets ? "found" : "similar", std::move(sounds)},
                    {"sounds", sounds_},
                    {"fingerprinted", fingerprinted_},
                    {"failures", failures_},
                    {"not_kept", not_kept_ ? json(not_kept_->OneLine()) : json(nullptr)}};
    }

private:
    std::size_t sounds_ = 0;
    std::size_t fingerprinted_ = 0;
    std::optional<Failure> failure_;
    std::optional<Failure> not_kept_;
};

}  // namespace

std::unique_ptr<InputFile> Studio::OpenAsked(const RouteRequest& request)
{
    if (Query(request.target.query, "from") == "output") {
        return game_.OpenExtracted(*request.file);
    }
    return OpenListedFile(request.game, *request.file);
}

Response Studio::Decoded(RouteRequest& request)
{
    const ListedFile& file = *request.file;
    if (file.kind != EntryKind::kSound) {
        return Refusal(400, "only sounds are decoded");
    }
    auto stored = OpenAsked(request);
    if (!stored) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    std::unique_ptr<InputFile> decoded;
    try {
        decoded = std::make_unique<DecodedFile>(std::move(stored), file.path);
    } catch (const audio::SoundError& error) {
        return Refusal(422, error.what());
    }
    std::optional<std::string> download;
    if (Query(request.target.query, "download") == "1") {
        download = DownloadNameOf(file, "wav");
    }
    return ServeBytes(request, std::move(decoded), "audio/wav", download);
}

Response Studio::Preview(RouteRequest& request)
{
    std::shared_ptr<audio::TemporaryStore> fitted;
    {
        const std::lock_guard lock(state_mutex_);
        if (preview_ && preview_->path == request.file->path) {
            fitted = preview_->bytes;
        }
    }
    if (!fitted) {
        return Refusal(404, "no new sound was fitted to " + request.file->path + ": send one with ?dry_run=1 first");
    }
    try {
        return ServeBytes(request,
                          std::make_unique<DecodedFile>(std::make_unique<StoredBytes>(fitted), "the new sound"),
                          "audio/wav", std::nullopt);
    } catch (const audio::SoundError& error) {
        return Refusal(422, error.what());
    }
}

Response Studio::PeaksOf(RouteRequest& request)
{
    const auto buckets = CountAsked(request.target.query, "n", audio::kMostBuckets, kDefaultBuckets);
    if (!buckets) {
        return Refusal(400, "n must be 1 to " + std::to_string(audio::kMostBuckets));
    }
    const ListedFile& file = *request.file;
    const auto stored = OpenAsked(request);
    if (!stored) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    const json none{{"channels", 0}, {"n", *buckets}, {"peaks", nullptr}};
    if (file.kind != EntryKind::kSound) {
        return JsonResponse(200, Dump(none));
    }
    try {
        return JsonResponse(200, Dump(PeaksJson(audio::ComputePeaks(*stored, file.path, *buckets))));
    } catch (const audio::SoundError& error) {
        json answer = none;
        answer["error"] = error.what();
        return JsonResponse(200, Dump(answer));
    }
}

Response Studio::SpectrogramOf(RouteRequest& request)
{
    const auto columns = CountAsked(request.target.query, "w", audio::kMostSpectrogramColumns, kDefaultBuckets);
    const auto rows = CountAsked(request.target.query, "h", audio::kMostSpectrogramRows, 128);
    if (!columns || !rows) {
        return Refusal(400, "w must be 1 to " + std::to_string(audio::kMostSpectrogramColumns) + " and h 1 to " +
                                std::to_string(audio::kMostSpectrogramRows));
    }
    const ListedFile& file = *request.file;
    const auto stored = OpenAsked(request);
    if (!stored) {
        return Refusal(404, file.path + " is not in the output folder");
    }
    json answer{{"columns", *columns}, {"rows", *rows}, {"seconds", 0}, {"data", nullptr}};
    if (file.kind != EntryKind::kSound) {
        return JsonResponse(200, Dump(answer));
    }
    try {
        const audio::Spectrogram spectrogram = audio::ComputeSpectrogram(*stored, file.path, *columns, *rows);
        answer["seconds"] = spectrogram.seconds;
        answer["data"] = Base64(spectrogram.levels);
    } catch (const audio::SoundError& error) {
        answer["error"] = error.what();
    }
    return JsonResponse(200, Dump(answer));
}

// One sound, exported as asked, for the browser to save. Short sounds are
// the rule, and libsndfile encodes many times faster than real time, so
// the file is made before the answer starts (in memory, or a temporary
// file past the store's limit) and its length is known.
Response Studio::ExportedFile(RouteRequest& request)
{
    const ListedFile& file = *request.file;
    const auto format = audio::ExportFormatNamed(Query(request.target.query, "format").value_or(""));
    if (!format) {
        return Refusal(400, "format must be wav, flac, ogg, opus or mp3");
    }
    if (file.kind != EntryKind::kSound) {
        return Refusal(400, "only sounds are exported");
    }
    const auto stored = OpenListedFile(request.game, file);
    const std::string label = labels_.LabelOf(file.path).value_or("");
    auto store = std::make_shared<audio::TemporaryStore>();
    try {
        auto sound = audio::SoundExport::Open(*stored, file.path, *format);
        StoreOutput output(*store);
        sound.WriteTo(output, ExportTagsOf(file.path, label, *stored), [](std::int64_t /*frames*/) {});
    } catch (const audio::SoundError& error) {
        return Refusal(422, error.what());
    }
    const std::string_view name = SplitListedPath(file.path).value().file_name;
    return ServeBytes(request, std::make_unique<StoredBytes>(std::move(store)), std::string(ContentTypeOf(*format)),
                      ExportFileName(name.substr(0, name.rfind('.')), label, audio::ExtensionOf(*format)));
}

void Studio::ExportSounds(RouteRequest& request, Reply reply)
{
    const auto body = ParseRequestObject(request.body);
    const auto format = body && body->contains("format") && (*body)["format"].is_string()
                            ? audio::ExportFormatNamed((*body)["format"].get<std::string>())
                            : std::nullopt;
    if (!format) {
        reply(Refusal(400, "say the format: {\"format\": \"flac\"} (wav, flac, ogg, opus or mp3)"));
        return;
    }
    std::vector<const ListedFile*> chosen;
    if (auto refusal = ReadChosenPaths(*body, *request.game, chosen)) {
        reply(std::move(*refusal));
        return;
    }
    runs_.Start(
        "export",
        [this, game = request.game, chosen, format = *format](RunListener& listener) {
            ChosenPaths choice(chosen);
            const auto labels = labels_.Labels();
            ExportRequest asked{.places = game_.places(),
                                .format = format,
                                .choice = chosen.empty() ? nullptr : &choice,
                                .labels = &labels};
            ExportAnswer answer(listener, game->Archives().size() > 1);
            const auto run_files = game_.RunFiles();
            const RunEnd end = ExportRun(*run_files, asked, answer);
            if (end == RunEnd::kCancelled) {
                throw Cancelled();
            }
            if (answer.failure()) {
                throw ExtractError(*answer.failure());
            }
            const std::string folder = game_.files().Join(options_.output_folder_shown, std::string(kExportFolder));
            return JsonResponse(200, Dump(answer.Answer(folder)));
        },
        std::move(reply));
}

// Any sound libsndfile reads, made into the format, loudness and loops of
// the sound it replaces, then swapped in as a swap of a WAV is; with
// dry_run, only fitted, reported and kept to be heard.
Response Studio::FitAndSwap(const std::shared_ptr<const GameReader>& game, const ListedFile& sound,
                            GameFolder::Replacement& upload, const std::string& name,
                            const std::map<std::string, std::string>& query, RunListener& listener)
{
    const std::string stays = WhatStays(sound);
    const audio::ReplacementOptions options{.keep_loudness = Query(query, "keep_loudness") == "1",
                                            .fit_length = Query(query, "fit_length") == "1"};
    listener.StatusChanged("Fitting " + name + " to " + sound.path);
    const auto uploaded = game_.files().OpenRegularFile(upload.path());
    std::optional<audio::FittedSound> fitted;
    try {
        fitted = FitToSound(game, sound, *uploaded, name, options);
    } catch (const audio::SoundError& error) {
        return Refusal(422, name + " cannot take its place: " + error.what() + ". " + stays);
    }
    const std::string text = fitted->report().Text();
    json answer{{"changed", false}, {"report", text.substr(0, text.find('\n'))}};
    json notes = json::array();
    for (const audio::ReplacementNote& note : fitted->report().notes) {
        notes.push_back(note.text);
    }
    answer["notes"] = std::move(notes);
    if (Query(query, "dry_run") == "1") {
        auto store = std::make_shared<audio::TemporaryStore>();
        StoreOutput output(*store);
        fitted->WriteTo(output);
        const std::lock_guard lock(state_mutex_);
        preview_ = FittedPreview{.path = sound.path, .bytes = std::move(store)};
        answer["preview"] = true;
        return JsonResponse(200, Dump(answer));
    }
    try {
        SwapInFitted(game_, sound, *fitted, listener);
    } catch (const PackRefused& refusal) {
        return RefusedSwap(sound, name, refusal, stays);
    }
    RefreshChanged(*game);
    const std::lock_guard lock(state_mutex_);
    changed_.insert(sound.path);
    answer["changed"] = true;
    return JsonResponse(200, Dump(answer));
}

// The sounds that hold a clip sent as the body, or (like: a listed sound)
// the sounds like that one; the game's index is brought up to date first,
// as a run, so that its progress shows.
void Studio::StartIndexing()
{
    const FindRequest asked{.places = game_.places(), .clip = {}, .index_only = true};
    runs_.StartInBackground("index", [this, asked](RunListener& listener) {
        const auto game = Current()->game;
        FindAnswer answer(listener, game->Archives().size() > 1);
        std::vector<FoundSound> none;
        const auto run_files = game_.RunFiles();
        answer.ThrowUnlessDone(FindRun(*run_files, asked, answer, none));
        if (answer.not_kept()) {
            throw ExtractError(*answer.not_kept());  // indexed for nothing: the searches index again
        }
        return JsonResponse(200, Dump(answer.Answer(none, true)));
    });
}

Response Studio::IndexState() const
{
    const RunSlot::State run = runs_.Background();
    const std::string_view state = run.running               ? "indexing"
                                   : run.outcome == "done"   ? "ready"
                                   : run.outcome == "failed" ? "failed"
                                   : run.name.empty()        ? "none"
                                                             : "waiting";
    return JsonResponse(
        200, Dump(json{{"state", state}, {"done", run.done}, {"total", run.total}, {"message", run.message}}));
}

void Studio::FindByEar(RouteRequest& request, Reply reply, bool like)
{
    const auto most = CountAsked(request.target.query, "max", kMostFound, 10);
    if (!most) {
        reply(Refusal(400, "max must be 1 to " + std::to_string(kMostFound)));
        return;
    }
    if (!like && request.body.empty()) {
        reply(Refusal(400, "send the clip's bytes as the body"));
        return;
    }
    const auto* first = reinterpret_cast<const std::byte*>(request.body.data());
    auto clip = std::make_shared<audio::MemoryInput>(std::vector<std::byte>(first, first + request.body.size()));
    FindRequest asked{.places = game_.places(),
                      .clip = Echo(Query(request.target.query, "name").value_or("the clip")),
                      .clip_bytes = like ? nullptr : clip.get(),
                      .like = like ? request.file->path : std::string(),
                      .most = *most};
    runs_.Start(
        like ? "similar" : "find",
        [this, game = request.game, clip, asked, like](RunListener& listener) {
            FindAnswer answer(listener, game->Archives().size() > 1);
            std::vector<FoundSound> found;
            const auto run_files = game_.RunFiles();
            answer.ThrowUnlessDone(FindRun(*run_files, asked, answer, found));
            return JsonResponse(200, Dump(answer.Answer(found, !like)));
        },
        std::move(reply));
}

}  // namespace quorvel::studio

#include "audio/sound_replacement.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "audio/channel_mix.hpp"
#include "audio/signal_fit.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/sound_encoder.hpp"
#include "audio/sound_formats.hpp"
#include "audio/temporary_store.hpp"
#include "audio/wav_chunks.hpp"
#include "audio/wav_markers.hpp"

namespace quorvel::audio {

// The replacement's bytes: its header and the chunks after its data are
// made here and held; the data lies in the store libsndfile encoded into.
struct FittedSound::State {
    ReplacementReport report;
    TemporaryStore encoded;
    std::vector<std::byte> head;  // the RIFF header and every chunk up to the data's payload
    std::uint64_t data_offset = 0;
    std::uint64_t data_size = 0;
    std::vector<std::byte> tail;  // the data's pad byte and the chunks after it
};

namespace {

using Bytes = std::vector<std::byte>;

constexpr std::size_t kPieceFrames = 4096;
constexpr std::size_t kCopyPiece = std::size_t{64} << 10;
// The chunks around the data are held in memory while the sound is made.
constexpr std::uint64_t kMaxCarriedBytes = std::uint64_t{4} << 20;
constexpr std::uint64_t kLargestRiff = std::numeric_limits<std::uint32_t>::max();
constexpr double kLowestCeilingDbtp = -1.0;
// Loudness is matched to within this; a gain held down for the peak stays
// this far under it; more encodings than this never moved a result.
constexpr double kGainToleranceDb = 0.1;
constexpr double kPeakMarginDb = 0.02;
constexpr double kLoweredNoteDb = 0.1;
constexpr int kMaxEncodings = 4;

struct Archived {
    std::string name;
    WavLayout layout;
    std::vector<Bytes> payloads;  // every chunk's but the data's, in the layout's order
    TargetFormat target;
    SoundSummary summary;
};

struct Measured {
    std::int64_t frames = 0;
    Loudness loudness;
};

Measured Measure(SoundDecoder& sound, int meter_rate)
{
    LoudnessMeter meter(sound.channels(), meter_rate, PeakMeasure::kTrue);
    std::vector<float> piece(kPieceFrames * static_cast<std::size_t>(sound.channels()));
    Measured measured;
    while (const std::size_t got = sound.Read(std::span(piece))) {
        meter.Add(std::span(piece).first(got * static_cast<std::size_t>(sound.channels())));
        measured.frames += static_cast<std::int64_t>(got);
    }
    measured.loudness = meter.Result();
    return measured;
}

SoundDecoder OpenLimited(InputFile& file, const std::string& name, const std::optional<WavLayout>& layout)
{
    SoundDecoder sound = SoundDecoder::Open(file, name);
    if (layout) {
        if (const auto frames = layout->Frames()) {
            sound.LimitFrames(*frames);
        }
    }
    return sound;
}

std::string Where(const std::string& name, const WavChunk& chunk)
{
    return name + ": the \"" + chunk.Name() + "\" chunk at offset " + std::to_string(chunk.offset - 8);
}

std::vector<Bytes> ReadCarriedChunks(InputFile& file, const std::string& name, const WavLayout& layout)
{
    std::vector<Bytes> payloads(layout.chunks.size());
    std::uint64_t carried = 0;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        if (i == layout.data_chunk) {
            continue;
        }
        carried += layout.chunks[i].size;
        if (carried > kMaxCarriedBytes) {
            throw SoundError(Where(name, layout.chunks[i]) + " takes the chunks around its data past " +
                             std::to_string(kMaxCarriedBytes) + " bytes, more than a header holds");
        }
        payloads[i] = ReadChunkPayload(file, layout.chunks[i], name);
    }
    // Loop and cue points that lie about their count are refused now,
    // before any work is done.
    std::vector<DroppedMarker> none;
    for (std::size_t i = 0; i < layout.chunks.size(); ++i) {
        if (layout.chunks[i].Is("smpl")) {
            FitSamplerChunk(payloads[i], {}, none, Where(name, layout.chunks[i]));
        } else if (layout.chunks[i].Is("cue ")) {
            FitCueChunk(payloads[i], {}, none, Where(name, layout.chunks[i]));
        }
    }
    return payloads;
}

Archived ReadArchived(InputFile& file, const std::string& name)
{
    Archived archived;
    archived.name = name;
    archived.layout = ReadWavLayout(file, name);
    archived.target = ChooseTarget(archived.layout.fmt, name);
    archived.payloads = ReadCarriedChunks(file, name, archived.layout);
    SoundDecoder sound = OpenLimited(file, name, archived.layout);
    const int rate = static_cast<int>(archived.layout.fmt.sample_rate);
    const Measured measured = Measure(sound, rate);
    archived.summary = {.format = archived.target.name,
                        .encoding = archived.target.id,
                        .channels = archived.layout.fmt.channels,
                        .sample_rate = rate,
                        .frames = measured.frames,
                        .loudness = measured.loudness};
    return archived;
}

std::optional<WavLayout> WavLayoutIfAny(InputFile& file, const std::string& name)
{
    try {
        return ReadWavLayout(file, name);
    } catch (const SoundError&) {
        return std::nullopt;  // not a WAV, or one libsndfile may still read
    }
}

ChannelOrder OrderOf(int sf_format)
{
    return (sf_format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG ? ChannelOrder::kVorbis : ChannelOrder::kWave;
}

// --- The level ---------------------------------------------------------

struct GainPlan {
    LevelRule level = LevelRule::kKept;
    double gain_db = 0;
    double ceiling_dbtp = 0;
};

GainPlan PlanGain(const Loudness& replaced, const Loudness& fitted, const ReplacementOptions& options)
{
    if (options.keep_loudness) {
        return {};
    }
    if (!replaced.lufs) {
        return {.level = LevelRule::kReplacedSilent};
    }
    if (!fitted.lufs) {
        return {.level = LevelRule::kNewSilent};
    }
    // The fitted samples' peak is their sample peak, which can lie under the
    // true peak: the first gain may be a little high, and the encoded sound's
    // true peak sets it right.
    GainPlan plan{.level = LevelRule::kMatched};
    plan.ceiling_dbtp = std::max(replaced.peak_db, kLowestCeilingDbtp);
    plan.gain_db = std::min(*replaced.lufs - *fitted.lufs, plan.ceiling_dbtp - fitted.peak_db - kPeakMarginDb);
    return plan;
}

struct EncodedLevel {
    double gain_db = 0;
    double wanted_db = 0;  // the gain that would have matched, peak aside
    Loudness loudness;
};

// Encoders are not linear (GSM 6.10 alone takes about 1 LU off), so the
// gain is set from what each encoding measures, and the sound encoded again
// until what is stored matches.
EncodedLevel EncodeMatched(const std::function<Loudness(double)>& encode, const GainPlan& plan,
                           const Loudness& replaced)
{
    double gain = plan.gain_db;
    for (int encoding = 1;; ++encoding) {
        const Loudness result = encode(gain);
        if (plan.level != LevelRule::kMatched || !result.lufs) {
            return {gain, gain, result};
        }
        const double by_loudness = *replaced.lufs - *result.lufs;
        const double room = plan.ceiling_dbtp - result.peak_db;
        const double step = room < by_loudness ? room - kPeakMarginDb : by_loudness;
        const bool settled = std::abs(step) < kGainToleranceDb && result.peak_db <= plan.ceiling_dbtp;
        if (settled || encoding == kMaxEncodings) {
            return {gain, gain + by_loudness, result};
        }
        gain += step;
    }
}

Loudness EncodePass(TemporaryStore& fitted, std::int64_t frames, const TargetFormat& target, bool peak_chunk,
                    double gain_db, bool dither, TemporaryStore& encoded, const std::string& name)
{
    const int channels = target.fmt.channels;
    encoded.Clear();
    SoundEncoder encoder(encoded, target, channels, peak_chunk, name);
    const auto gain = static_cast<float>(std::pow(10.0, gain_db / 20.0));
    ReadFitted(fitted, channels, frames, [&](std::span<const float> piece) { encoder.Write(piece, gain, dither); });
    encoder.Finish();
    SoundDecoder stored = SoundDecoder::Open(encoded, name);
    stored.LimitFrames(frames);
    return Measure(stored, static_cast<int>(target.fmt.sample_rate)).loudness;
}

// --- The header ----------------------------------------------------------

std::string Blocks(const WavFmt& fmt)
{
    std::string text = std::to_string(fmt.block_align) + " bytes";
    if (fmt.samples_per_block > 0) {
        text += " (" + std::to_string(fmt.samples_per_block) + " frames)";
    }
    return text;
}

void AppendChunk(Bytes& out, const WavChunk& chunk, std::span<const std::byte> payload, std::uint64_t size)
{
    const auto* id = reinterpret_cast<const std::byte*>(chunk.id.data());
    out.insert(out.end(), id, id + 4);
    const std::size_t at = out.size();
    out.resize(at + 4);
    StoreLe(out, at, 4, static_cast<std::uint32_t>(size));
    out.insert(out.end(), payload.begin(), payload.end());
    if (size % 2 == 1 && !payload.empty()) {
        out.push_back(std::byte{0});
    }
}

class HeaderMaker {
public:
    HeaderMaker(const Archived& archived, TemporaryStore& encoded, std::int64_t frames, ReplacementReport& report)
        : archived_(archived), encoded_(encoded), frames_(frames), report_(report)
    {
    }

    void Make(FittedSound::State& state)
    {
        const WavLayout produced = ReadWavLayout(encoded_, report_.name);
        const Bytes fmt = FormatChunk(produced.fmt);
        Bytes* out = &state.head;
        const char riff[] = "RIFF\0\0\0\0WAVE";
        const auto* start = reinterpret_cast<const std::byte*>(riff);
        out->insert(out->end(), start, start + 12);
        for (std::size_t i = 0; i < archived_.layout.chunks.size(); ++i) {
            const WavChunk& chunk = archived_.layout.chunks[i];
            if (i == archived_.layout.data_chunk) {
                state.data_offset = produced.data().offset;
                state.data_size = produced.data().size;
                AppendChunk(*out, chunk, {}, state.data_size);
                out = &state.tail;
                if (state.data_size % 2 == 1) {
                    out->push_back(std::byte{0});
                }
            } else if (const auto payload = Payload(i, fmt, produced)) {
                AppendChunk(*out, chunk, *payload, payload->size());
            }
        }
        const std::uint64_t riff_size = state.head.size() + state.data_size + state.tail.size() - 8;
        if (riff_size > kLargestRiff) {
            throw SoundError(report_.name + ": fitted, it would take " + std::to_string(riff_size + 8) +
                             " bytes, more than a WAV can hold (4 GiB)");
        }
        StoreLe(state.head, 4, 4, static_cast<std::uint32_t>(riff_size));
        for (const DroppedMarker& marker : dropped_) {
            report_.notes.push_back(
                {marker.loop ? ReplacementNote::Kind::kLoopDropped : ReplacementNote::Kind::kCuePointDropped,
                 marker.Describe(frames_),
                 {{marker.loop ? "loop" : "cue_id", marker.number},
                  {"start", static_cast<double>(marker.start)},
                  {"end", static_cast<double>(marker.end)},
                  {"new_frames", static_cast<double>(frames_)}}});
        }
    }

private:
    // The archived sound's own "fmt " chunk wherever the encoder's data has
    // its layout; else the encoder's, with the archived sound's rate.
    Bytes FormatChunk(const WavFmt& produced)
    {
        const WavFmt& wanted = archived_.layout.fmt;
        if (produced.SameBlockLayout(wanted)) {
            return wanted.bytes;
        }
        Bytes fmt = produced.bytes;
        const std::uint64_t per_block = produced.samples_per_block > 0 ? produced.samples_per_block : 1;
        StoreLe(fmt, 4, 4, wanted.sample_rate);
        StoreLe(fmt, 8, 4,
                static_cast<std::uint32_t>(wanted.sample_rate * std::uint64_t{produced.block_align} / per_block));
        if (produced.samples_per_block > 0) {
            new_blocks_ = MarkerFit::Blocks{produced.block_align, produced.samples_per_block};
        }
        report_.notes.push_back({ReplacementNote::Kind::kBlockSizeNotMatched,
                                 "blocks of " + Blocks(wanted) +
                                     ", as the sound it replaces has, cannot be made: written in blocks of " +
                                     Blocks(produced),
                                 {{"block_align", wanted.block_align},
                                  {"samples_per_block", wanted.samples_per_block},
                                  {"written_block_align", produced.block_align},
                                  {"written_samples_per_block", produced.samples_per_block}}});
        return fmt;
    }

    std::optional<Bytes> Payload(std::size_t index, const Bytes& fmt, const WavLayout& produced)
    {
        const WavChunk& chunk = archived_.layout.chunks[index];
        const Bytes& old = archived_.payloads[index];
        const std::string where = Where(archived_.name, chunk);
        const MarkerFit fit{.old_frames = archived_.summary.frames, .new_frames = frames_, .new_blocks = new_blocks_};
        if (chunk.Is("fmt ")) {
            return fmt;
        }
        if (chunk.Is("fact")) {
            Bytes fact = old;
            if (fact.size() >= 4) {
                StoreLe(fact, 0, 4, static_cast<std::uint32_t>(frames_));
            }
            return fact;
        }
        if (chunk.Is("smpl")) {
            return FitSamplerChunk(old, fit, dropped_, where);
        }
        if (chunk.Is("cue ")) {
            return FitCueChunk(old, fit, dropped_, where);
        }
        if (chunk.Is("PEAK")) {
            return PeakChunk(old, produced);
        }
        return old;
    }

    // A "PEAK" chunk states the peaks of float data: the encoder's, for the
    // new data, with the old chunk's time stamp so that the same input
    // gives the same bytes; none where the data is not float.
    std::optional<Bytes> PeakChunk(const Bytes& old, const WavLayout& produced)
    {
        for (const WavChunk& chunk : produced.chunks) {
            if (chunk.Is("PEAK")) {
                Bytes peak = ReadChunkPayload(encoded_, chunk, report_.name);
                if (peak.size() >= 8 && old.size() >= 8) {
                    std::copy(old.begin() + 4, old.begin() + 8, peak.begin() + 4);
                }
                return peak;
            }
        }
        return std::nullopt;
    }

    const Archived& archived_;
    TemporaryStore& encoded_;
    std::int64_t frames_;
    ReplacementReport& report_;
    std::optional<MarkerFit::Blocks> new_blocks_;
    std::vector<DroppedMarker> dropped_;
};

// --- The steps -----------------------------------------------------------

void CopyAsItIs(FittedSound::State& state, InputFile& replacement, SoundDecoder& input, const Archived& archived)
{
    const Measured measured = Measure(input, input.sample_rate());
    state.report.level = LevelRule::kCopied;
    state.report.input = {.format = DescribeSource(input.sf_format()),
                          .encoding = {},
                          .channels = input.channels(),
                          .sample_rate = input.sample_rate(),
                          .frames = measured.frames,
                          .loudness = measured.loudness};
    state.report.output = archived.summary;
    state.report.output.frames = measured.frames;
    state.report.output.loudness = measured.loudness;
    std::vector<std::byte> piece(kCopyPiece);
    for (std::uint64_t at = 0;;) {
        const std::size_t got = replacement.ReadAt(at, piece);
        if (got == 0) {
            break;
        }
        state.encoded.Append(std::span(piece).first(got));
        at += got;
    }
    state.data_size = state.encoded.Size();
}

bool HasChunk(const WavLayout& layout, std::string_view id)
{
    return std::any_of(layout.chunks.begin(), layout.chunks.end(), [&](const WavChunk& c) { return c.Is(id); });
}

void AddLengthNote(ReplacementReport& report, const FittedSignal& fitted)
{
    const std::string length = " to the length of the sound it replaces (" + std::to_string(fitted.frames) + " frames)";
    if (fitted.trimmed) {
        report.notes.push_back({ReplacementNote::Kind::kTrimmed,
                                "trimmed" + length + ", with a 10 ms fade",
                                {{"input_frames", static_cast<double>(fitted.input_frames)},
                                 {"frames", static_cast<double>(fitted.frames)}}});
    } else if (fitted.padded) {
        report.notes.push_back({ReplacementNote::Kind::kPadded,
                                "padded with silence" + length,
                                {{"input_frames", static_cast<double>(fitted.input_frames)},
                                 {"frames", static_cast<double>(fitted.frames)}}});
    }
}

std::string Signed(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%+.1f", value);
    return text;
}

void AddGainNote(ReplacementReport& report, const GainPlan& plan, const EncodedLevel& level)
{
    if (plan.level != LevelRule::kMatched || level.wanted_db - level.gain_db < kLoweredNoteDb) {
        return;
    }
    char ceiling[32];
    std::snprintf(ceiling, sizeof(ceiling), "%.1f", plan.ceiling_dbtp);
    report.notes.push_back(
        {ReplacementNote::Kind::kGainLowered,
         "gain lowered from " + Signed(level.wanted_db) + " dB to " + Signed(level.gain_db) +
             " dB to keep the true peak at or under " + ceiling + " dBTP",
         {{"wanted_db", level.wanted_db}, {"gain_db", level.gain_db}, {"ceiling_dbtp", plan.ceiling_dbtp}}});
}

}  // namespace

FittedSound FittedSound::Fit(InputFile& archived_file, const std::string& archived_name, InputFile& replacement,
                             const std::string& replacement_name, const ReplacementOptions& options)
{
    auto state = std::make_unique<State>();
    ReplacementReport& report = state->report;
    const Archived archived = ReadArchived(archived_file, archived_name);
    const TargetFormat& target = archived.target;
    const std::optional<WavLayout> new_layout = WavLayoutIfAny(replacement, replacement_name);
    SoundDecoder input = OpenLimited(replacement, replacement_name, new_layout);
    const ChannelMix mix(input.channels(), target.fmt.channels, OrderOf(input.sf_format()));
    report.name = replacement_name;
    report.replaced_name = archived_name;
    report.replaced = archived.summary;
    report.channel_rule = mix.Describe();

    const bool in_format = new_layout && new_layout->fmt.SameShape(target.fmt) &&
                           (!options.fit_length || input.frames() == archived.summary.frames);
    if (options.keep_loudness && in_format) {
        CopyAsItIs(*state, replacement, input, archived);
        report.bytes = state->data_size;
        return FittedSound(std::move(state));
    }

    TemporaryStore fitted_store;
    const SignalFit fit{.to_rate = static_cast<int>(target.fmt.sample_rate),
                        .mix = mix,
                        .length = options.fit_length ? std::optional(archived.summary.frames) : std::nullopt};
    const FittedSignal fitted = FitSignal(input, fit, fitted_store);
    report.input = {.format = DescribeSource(input.sf_format()),
                    .encoding = {},
                    .channels = input.channels(),
                    .sample_rate = input.sample_rate(),
                    .frames = fitted.input_frames,
                    .loudness = fitted.input_loudness};

    const GainPlan plan = PlanGain(archived.summary.loudness, fitted.loudness, options);
    // Samples that are still the source's integers need no dither to be
    // rounded to as many bits or more: rounding keeps them exactly.
    const int depth = SourceDepth(input.sf_format());
    const bool untouched = mix.identity() && input.sample_rate() == fit.to_rate && !fitted.trimmed && depth > 0 &&
                           depth <= target.quantise_bits;
    const bool peak_chunk = HasChunk(archived.layout, "PEAK");
    const EncodedLevel level = EncodeMatched(
        [&](double gain_db) {
            const bool dither = !(untouched && gain_db == 0);
            return EncodePass(fitted_store, fitted.frames, target, peak_chunk, gain_db, dither, state->encoded,
                              replacement_name);
        },
        plan, archived.summary.loudness);

    report.level = plan.level;
    report.gain_db = level.gain_db;
    report.output = archived.summary;
    report.output.frames = fitted.frames;
    report.output.loudness = level.loudness;
    AddGainNote(report, plan, level);
    AddLengthNote(report, fitted);
    HeaderMaker(archived, state->encoded, fitted.frames, report).Make(*state);
    report.bytes = state->head.size() + state->data_size + state->tail.size();
    return FittedSound(std::move(state));
}

FittedSound::FittedSound(std::unique_ptr<State> state) : state_(std::move(state)) {}
FittedSound::FittedSound(FittedSound&&) noexcept = default;
FittedSound& FittedSound::operator=(FittedSound&&) noexcept = default;
FittedSound::~FittedSound() = default;

const ReplacementReport& FittedSound::report() const
{
    return state_->report;
}

std::uint64_t FittedSound::size() const
{
    return state_->report.bytes;
}

void FittedSound::WriteTo(OutputFile& out)
{
    out.Write(state_->head);
    std::vector<std::byte> piece(kCopyPiece);
    for (std::uint64_t done = 0; done < state_->data_size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyPiece, state_->data_size - done));
        const std::size_t got = state_->encoded.ReadAt(state_->data_offset + done, std::span(piece).first(want));
        if (got == 0) {
            throw SoundError(state_->report.name + ": the converted sound ended early in its temporary store");
        }
        out.Write(std::span(piece).first(got));
        done += got;
    }
    out.Write(state_->tail);
}

}  // namespace quorvel::audio

#include "audio/sound_replacement.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "audio/channel_mix.hpp"
#include "audio/read_ahead_input.hpp"
#include "audio/replaced_sound.hpp"
#include "audio/replacement_header.hpp"
#include "audio/signal_fit.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/sound_encoder.hpp"
#include "audio/sound_formats.hpp"
#include "audio/temporary_store.hpp"
#include "audio/wav_chunks.hpp"

namespace quorvel::audio {

// The replacement's bytes: its header and the chunks after its data are
// made here and held; the data lies in the store libsndfile encoded into.
struct FittedSound::State {
    ReplacementReport report;
    TemporaryStore encoded;
    ReplacementBytes bytes;
};

namespace {

using Bytes = std::vector<std::byte>;

constexpr std::size_t kCopyPiece = std::size_t{64} << 10;
constexpr double kLowestCeilingDbtp = -1.0;
// Loudness is matched to within this (the report's own step); a gain held
// down for the peak stays this far under it. Past kEnoughEncodings the
// loudness is left as close as it came, but the peak is not: a result over
// the ceiling is encoded again, up to kMostEncodings.
constexpr double kGainToleranceDb = 0.1;
constexpr double kPeakMarginDb = 0.02;
constexpr double kLoweredNoteDb = 0.1;
constexpr int kEnoughEncodings = 4;
constexpr int kMostEncodings = 8;

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
        const bool under_ceiling = result.peak_db <= plan.ceiling_dbtp;
        const bool settled = std::abs(step) < kGainToleranceDb && under_ceiling;
        if (settled || (encoding >= kEnoughEncodings && under_ceiling) || encoding == kMostEncodings) {
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
    ReadAheadInput stored_bytes(encoded);
    SoundDecoder stored = SoundDecoder::Open(stored_bytes, name);
    stored.LimitFrames(frames);
    return MeasureSound(stored, static_cast<int>(target.fmt.sample_rate)).loudness;
}

bool HasChunk(const WavLayout& layout, std::string_view id)
{
    return std::any_of(layout.chunks.begin(), layout.chunks.end(), [&](const WavChunk& c) { return c.Is(id); });
}

// --- The steps -----------------------------------------------------------

// Samples that are still the source's integers need no dither to be
// rounded to as many bits or more: rounding keeps them exactly.
bool OnTheTargetGrid(const SoundDecoder& input, const ChannelMix& mix, const FittedSignal& fitted,
                     const TargetFormat& target)
{
    const int depth = SourceDepth(input.sf_format());
    return mix.identity() && input.sample_rate() == static_cast<int>(target.fmt.sample_rate) && !fitted.trimmed &&
           depth > 0 && depth <= target.quantise_bits;
}

EncodedLevel EncodeAtLevel(TemporaryStore& fitted, std::int64_t frames, const ReplacedSound& archived,
                           const GainPlan& plan, bool on_grid, TemporaryStore& encoded, const std::string& name)
{
    const bool peak_chunk = HasChunk(archived.layout, "PEAK");
    return EncodeMatched(
        [&](double gain_db) {
            const bool dither = !(on_grid && gain_db == 0);
            return EncodePass(fitted, frames, archived.target, peak_chunk, gain_db, dither, encoded, name);
        },
        plan, archived.summary.loudness);
}

void CopyAsItIs(FittedSound::State& state, InputFile& replacement, SoundDecoder& input, const ReplacedSound& archived)
{
    const MeasuredSound measured = MeasureSound(input, input.sample_rate());
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
    state.bytes.data_size = state.encoded.Size();
}

void AddLengthNote(ReplacementReport& report, const FittedSignal& fitted, int rate)
{
    char seconds[32];
    std::snprintf(seconds, sizeof(seconds), "%.2f s", static_cast<double>(fitted.frames) / rate);
    const std::string length =
        " to the length of the sound it replaces (" + std::to_string(fitted.frames) + " frames, " + seconds + ")";
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
    const ReplacedSound archived = ReadReplacedSound(archived_file, archived_name);
    const TargetFormat& target = archived.target;
    ReadAheadInput new_bytes(replacement);
    const std::optional<WavLayout> new_layout = WavLayoutIfAny(new_bytes, replacement_name);
    SoundDecoder input = OpenHeldToItsLength(new_bytes, replacement_name, new_layout);
    const ChannelMix mix(input.channels(), target.fmt.channels, OrderOf(input.sf_format()));
    report.name = replacement_name;
    report.replaced_name = archived_name;
    report.replaced = archived.summary;
    report.channel_rule = mix.Describe();

    const bool in_format = new_layout && new_layout->fmt.SameShape(target.fmt) &&
                           (!options.fit_length || input.frames() == archived.summary.frames);
    if (options.keep_loudness && in_format) {
        CopyAsItIs(*state, replacement, input, archived);
        report.bytes = state->bytes.size();
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
    const bool exact = OnTheTargetGrid(input, mix, fitted, target);
    const EncodedLevel level =
        EncodeAtLevel(fitted_store, fitted.frames, archived, plan, exact, state->encoded, replacement_name);
    report.level = plan.level;
    report.gain_db = level.gain_db;
    report.output = archived.summary;
    report.output.frames = fitted.frames;
    report.output.loudness = level.loudness;
    AddGainNote(report, plan, level);
    AddLengthNote(report, fitted, report.output.sample_rate);
    state->bytes = MakeReplacementBytes(archived, state->encoded, fitted.frames, report);
    report.bytes = state->bytes.size();
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
    const ReplacementBytes& bytes = state_->bytes;
    out.Write(bytes.head);
    std::vector<std::byte> piece(kCopyPiece);
    for (std::uint64_t done = 0; done < bytes.data_size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyPiece, bytes.data_size - done));
        const std::size_t got = state_->encoded.ReadAt(bytes.data_offset + done, std::span(piece).first(want));
        if (got == 0) {
            throw SoundError(state_->report.name + ": the converted sound ended early in its temporary store");
        }
        out.Write(std::span(piece).first(got));
        done += got;
    }
    out.Write(bytes.tail);
}

}  // namespace quorvel::audio

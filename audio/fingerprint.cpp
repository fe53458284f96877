#include "audio/fingerprint.hpp"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

#include "audio/resampler.hpp"

namespace quorvel::audio {

namespace {

constexpr int kBins = kFingerprintWindow / 2;  // the top bin (Nyquist) is left out
// A peak is the strongest point within this many frames and bins of it.
constexpr int kPeakFrames = 1;
constexpr int kPeakBins = 10;
// The strongest peaks a frame keeps: enough for a 1 s clip to give hundreds
// of pairs, few enough that noise adds few of its own.
constexpr std::size_t kPeaksPerFrame = 5;
// Quieter than this (dB below a full-scale sine) is silence: no peaks.
constexpr float kFloorDecibels = -70.0F;
// A peak stands this far above the frame's median bin: the strongest of a
// neighbourhood of white noise stands about 8 dB above it, so that noise,
// which moves from one recording to the next, gives few peaks.
constexpr float kAboveMedianDecibels = 12.0F;
// The targets of an anchor: the first kFanOut peaks from kMinGap to kMaxGap
// frames after it (23 to 720 ms), within kMaxBinGap bins of it and at most
// kPeakTargetBelow dB quieter. A peak far quieter than its anchor (the
// tail of a hit, a coarse encoding's overtones and hiss) is what noise
// takes away first: the index would spend the anchor's targets on it, and
// a recording's pairs would not be among them.
constexpr int kMinGap = 1;
constexpr int kMaxGap = 31;
constexpr int kMaxBinGap = 255;
constexpr std::size_t kFanOut = 8;
constexpr float kPeakTargetBelow = 24.0F;
// Samples decoded, mixed and resampled at a time.
constexpr std::size_t kPieceFrames = 8192;
// A line (a sine, steady or sweeping) is followed from frame to frame: a
// frame's strongest kLinesPerFrame peaks of its own spectrum, each within
// kLineStep bins of where a line was in the frame before, continue it.
constexpr std::size_t kLinesPerFrame = 5;
constexpr float kLineStep = 1.5F;
// A line's crossings are paired up to kMaxLineGap frames apart (1.45 s, the
// most the hash's 6 bits of gap hold): a slow sweep crosses a bin centre
// once in 10 frames or more, and two sweeps a few per cent apart tell
// themselves apart only over long gaps. A crossing's targets are at most
// kLineTargetBelow dB quieter than it: a coarse encoding's faint overtones
// of a sweep cross bins more often than the sweep itself, and would take
// all its targets in the index, but not in a recording under noise.
constexpr int kMaxLineGap = 63;
constexpr float kLineTargetBelow = 12.0F;
// A line's pairs are hashed apart from the peaks' (the top bit), with
// whether each of the two crossings rose or fell.
constexpr std::uint32_t kLinePair = 1U << 31;
constexpr std::uint32_t kAnchorRose = 1U << 25;
constexpr std::uint32_t kTargetRose = 1U << 24;

struct Peak {
    std::uint32_t frame = 0;
    int bin = 0;
    float level = 0;
    std::uint32_t kind = 0;  // for a line's crossing: kLinePair, and kAnchorRose if it rose
    // For a crossing, where the moment itself lies from `frame` (-0.5 to
    // 0.5 frames): the time between two crossings is the difference of
    // their moments rounded, whatever the grid of the frames.
    float past_frame = 0;
};

struct Spectrum {
    std::uint32_t frame = 0;
    std::vector<float> decibels;  // kBins, relative to a full-scale sine
    float floor = 0;              // what a peak must reach in this frame
    // The bins at or above the floor and at least as strong as both
    // neighbours: the only places a peak or a line can be (few of them).
    std::vector<int> maxima;
};

// Keeps the `most` strongest of `found`.
void KeepStrongest(std::vector<Peak>& found, std::size_t most)
{
    std::sort(found.begin(), found.end(), [](const Peak& a, const Peak& b) { return a.level > b.level; });
    found.resize(std::min(found.size(), most));
}

std::uint32_t PairHash(int anchor_bin, int target_bin, int gap)
{
    return (static_cast<std::uint32_t>(anchor_bin) << 15) | (static_cast<std::uint32_t>(target_bin) << 6) |
           static_cast<std::uint32_t>(gap);
}

}  // namespace

struct Fingerprinter::State {
    State(int sample_rate, int channels)
        : resampler(sample_rate, kFingerprintRate, 1),
          channels(channels),
          fft(kiss_fftr_alloc(kFingerprintWindow, 0, nullptr, nullptr)),
          window(kFingerprintWindow),
          frame_in(kFingerprintWindow),
          frame_out(kBins + 1)
    {
        if (fft == nullptr) {
            throw SoundError("the spectrum cannot be set up: out of memory");
        }
        double sum = 0;
        for (int i = 0; i < kFingerprintWindow; ++i) {
            window[static_cast<std::size_t>(i)] =
                static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / kFingerprintWindow));
            sum += window[static_cast<std::size_t>(i)];
        }
        // A full-scale sine's bin reaches half the window's sum.
        full_scale = static_cast<float>(sum / 2);
    }
    ~State() { kiss_fftr_free(fft); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    Resampler resampler;
    int channels;
    kiss_fftr_cfg fft;
    std::vector<float> window;
    float full_scale = 1;
    std::vector<kiss_fft_scalar> frame_in;
    std::vector<kiss_fft_cpx> frame_out;

    std::vector<float> mono;
    std::vector<float> pending;  // resampled samples not yet past in frames
    std::size_t pending_start = 0;
    std::uint32_t next_frame = 0;

    std::deque<Spectrum> spectra;  // the last 2 * kPeakFrames + 1
    std::uint32_t next_centre = 0;
    std::deque<Peak> peaks;      // anchors still waiting for targets, and those targets
    std::vector<float> lines;    // where the lines of the last frame were, in bins
    std::deque<Peak> crossings;  // where lines crossed a bin's centre, waiting for targets
    std::vector<Landmark> ready;

    void Take(std::span<const float> interleaved);
    void TakeResampled(std::span<const float> samples);
    void Analyse(const float* samples);
    void FindPeaks(const Spectrum& centre);
    bool IsNeighbourhoodPeak(const Spectrum& centre, int bin) const;
    void FollowLines(const Spectrum& spectrum);
    void PairAnchorsBefore(std::uint32_t frame);
    void Flush();
};

void Fingerprinter::State::Take(std::span<const float> interleaved)
{
    const auto width = static_cast<std::size_t>(channels);
    const std::size_t frames = interleaved.size() / width;
    for (std::size_t start = 0; start < frames; start += kPieceFrames) {
        const std::size_t count = std::min(kPieceFrames, frames - start);
        mono.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            float sum = 0;
            for (std::size_t c = 0; c < width; ++c) {
                sum += interleaved[(start + i) * width + c];
            }
            mono[i] = sum / static_cast<float>(width);
        }
        std::vector<float> resampled;
        resampler.Process(mono, resampled);
        TakeResampled(resampled);
    }
}

void Fingerprinter::State::TakeResampled(std::span<const float> samples)
{
    pending.insert(pending.end(), samples.begin(), samples.end());
    while (pending.size() - pending_start >= static_cast<std::size_t>(kFingerprintWindow)) {
        Analyse(pending.data() + pending_start);
        pending_start += kFingerprintHop;
    }
    // What was passed is dropped once it outweighs what is kept.
    if (pending_start > pending.size() / 2) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pending_start));
        pending_start = 0;
    }
}

void Fingerprinter::State::Analyse(const float* samples)
{
    for (std::size_t i = 0; i < frame_in.size(); ++i) {
        frame_in[i] = samples[i] * window[i];
    }
    kiss_fftr(fft, frame_in.data(), frame_out.data());
    Spectrum spectrum{next_frame++, std::vector<float>(kBins), 0, {}};
    for (int bin = 0; bin < kBins; ++bin) {
        const kiss_fft_cpx value = frame_out[static_cast<std::size_t>(bin)];
        const float magnitude = std::sqrt(value.r * value.r + value.i * value.i) / full_scale;
        spectrum.decibels[static_cast<std::size_t>(bin)] = 20 * std::log10(magnitude + 1e-9F);
    }
    std::vector<float> sorted = spectrum.decibels;
    std::nth_element(sorted.begin(), sorted.begin() + kBins / 2, sorted.end());
    spectrum.floor = std::max(kFloorDecibels, sorted[kBins / 2] + kAboveMedianDecibels);
    const std::vector<float>& level = spectrum.decibels;
    for (int bin = 1; bin < kBins; ++bin) {
        const float here = level[static_cast<std::size_t>(bin)];
        if (here >= spectrum.floor && here >= level[static_cast<std::size_t>(bin - 1)] &&
            (bin + 1 == kBins || here >= level[static_cast<std::size_t>(bin + 1)])) {
            spectrum.maxima.push_back(bin);
        }
    }
    FollowLines(spectrum);
    spectra.push_back(std::move(spectrum));
    // A frame's peaks are known once kPeakFrames frames after it are in.
    while (!spectra.empty() && next_centre + kPeakFrames < next_frame) {
        FindPeaks(spectra[next_centre - spectra.front().frame]);
        ++next_centre;
        while (!spectra.empty() && spectra.front().frame + kPeakFrames < next_centre) {
            spectra.pop_front();
        }
    }
}

bool Fingerprinter::State::IsNeighbourhoodPeak(const Spectrum& centre, int bin) const
{
    const float level = centre.decibels[static_cast<std::size_t>(bin)];
    const int low = std::max(1, bin - kPeakBins);
    const int high = std::min(kBins - 1, bin + kPeakBins);
    for (const Spectrum& other : spectra) {
        for (int b = low; b <= high; ++b) {
            const float other_level = other.decibels[static_cast<std::size_t>(b)];
            // Of equal points the earliest and lowest is the peak.
            const bool before = other.frame < centre.frame || (other.frame == centre.frame && b < bin);
            if (other_level > level || (before && other_level == level)) {
                return false;
            }
        }
    }
    return true;
}

void Fingerprinter::State::FindPeaks(const Spectrum& centre)
{
    std::vector<Peak> found;
    for (const int bin : centre.maxima) {
        if (IsNeighbourhoodPeak(centre, bin)) {
            found.push_back({centre.frame, bin, centre.decibels[static_cast<std::size_t>(bin)]});
        }
    }
    KeepStrongest(found, kPeaksPerFrame);
    std::sort(found.begin(), found.end(), [](const Peak& a, const Peak& b) { return a.bin < b.bin; });
    peaks.insert(peaks.end(), found.begin(), found.end());
    if (centre.frame >= static_cast<std::uint32_t>(kMaxGap)) {
        PairAnchorsBefore(centre.frame - kMaxGap + 1);
    }
}

// A sine, steady or sweeping, is one level along its line: its peaks in
// time and frequency fall where a tenth of a dB tips the balance, and any
// noise moves them. Where the line crosses the centre of a bin does not
// move: the line's place within a frame is known to a small part of a bin
// (the parabola through the peak's bin and its two neighbours, in dB), so
// a sweep gives crossings at steady times, which are paired as the peaks
// are. A steady line crosses nothing and gives nothing: it tells neither
// which sound nor where.
void Fingerprinter::State::FollowLines(const Spectrum& spectrum)
{
    const std::vector<float>& level = spectrum.decibels;
    std::vector<Peak> found;
    for (const int bin : spectrum.maxima) {
        const float here = level[static_cast<std::size_t>(bin)];
        if (bin + 1 == kBins || here == level[static_cast<std::size_t>(bin + 1)]) {
            continue;
        }
        const int low = std::max(1, bin - kPeakBins);
        const int high = std::min(kBins - 1, bin + kPeakBins);
        if (std::any_of(level.begin() + low, level.begin() + high + 1, [here](float other) { return other > here; })) {
            continue;
        }
        found.push_back({spectrum.frame, bin, here});
    }
    KeepStrongest(found, kLinesPerFrame);
    std::vector<float> places;
    std::vector<Peak> crossed;
    for (const Peak& peak : found) {
        const auto at = static_cast<std::size_t>(peak.bin);
        const float below = level[at - 1];
        const float above = level[at + 1];
        const float bend = below - 2 * peak.level + above;
        const float place =
            static_cast<float>(peak.bin) + (bend < 0 ? std::clamp(0.5F * (below - above) / bend, -0.5F, 0.5F) : 0.0F);
        places.push_back(place);
        const auto before = std::min_element(lines.begin(), lines.end(), [place](float a, float b) {
            return std::abs(a - place) < std::abs(b - place);
        });
        if (before == lines.end() || std::abs(*before - place) > kLineStep) {
            continue;
        }
        const float from = *before;
        const bool rose = place > from;
        // Each bin centre passed between the two frames, at the nearer frame.
        for (int centre = static_cast<int>(std::floor(std::min(from, place))) + 1;
             static_cast<float>(centre) <= std::max(from, place); ++centre) {
            const float part = (static_cast<float>(centre) - from) / (place - from);
            const std::uint32_t frame = part < 0.5F ? spectrum.frame - 1 : spectrum.frame;
            if (centre > 0 && centre < kBins) {
                crossed.push_back(
                    {frame, centre, peak.level, kLinePair | (rose ? kAnchorRose : 0U), part < 0.5F ? part : part - 1});
            }
        }
    }
    std::sort(crossed.begin(), crossed.end(),
              [](const Peak& a, const Peak& b) { return a.frame != b.frame ? a.frame < b.frame : a.bin < b.bin; });
    crossings.insert(crossings.end(), crossed.begin(), crossed.end());
    lines = std::move(places);
}

namespace {

// Pairs every anchor of `anchors` before `frame` with its targets, which
// are all known by now, and lets it go.
void PairAnchors(std::deque<Peak>& anchors, std::uint32_t frame, int max_gap, float most_below,
                 std::vector<Landmark>& ready)
{
    while (!anchors.empty() && anchors.front().frame < frame) {
        const Peak anchor = anchors.front();
        std::size_t paired = 0;
        for (std::size_t i = 1; i < anchors.size() && paired < kFanOut; ++i) {
            const Peak& target = anchors[i];
            if (static_cast<int>(target.frame - anchor.frame) > max_gap) {
                break;
            }
            const int gap = static_cast<int>(target.frame - anchor.frame) +
                            static_cast<int>(std::lround(target.past_frame - anchor.past_frame));
            if (gap < kMinGap || gap > max_gap || std::abs(target.bin - anchor.bin) > kMaxBinGap ||
                target.level < anchor.level - most_below) {
                continue;
            }
            const std::uint32_t kind = anchor.kind | ((target.kind & kAnchorRose) != 0 ? kTargetRose : 0U);
            ready.push_back({kind | PairHash(anchor.bin, target.bin, gap), anchor.frame});
            ++paired;
        }
        anchors.pop_front();
    }
}

}  // namespace

void Fingerprinter::State::PairAnchorsBefore(std::uint32_t frame)
{
    PairAnchors(peaks, frame, kMaxGap, kPeakTargetBelow, ready);
    // A crossing waits longer for its targets.
    constexpr auto kLater = static_cast<std::uint32_t>(kMaxLineGap - kMaxGap);
    if (frame > kLater) {
        PairAnchors(crossings, frame - kLater, kMaxLineGap, kLineTargetBelow, ready);
    }
}

void Fingerprinter::State::Flush()
{
    std::vector<float> tail;
    resampler.Finish(tail);
    TakeResampled(tail);
    // The last part of a window: zeros after the sound's end.
    if (pending.size() > pending_start) {
        pending.resize(pending_start + kFingerprintWindow, 0.0F);
        Analyse(pending.data() + pending_start);
    }
    pending.clear();
    pending_start = 0;
    while (next_centre < next_frame) {
        FindPeaks(spectra[next_centre - spectra.front().frame]);
        ++next_centre;
    }
    spectra.clear();
    PairAnchorsBefore(next_frame + kMaxLineGap);
}

Fingerprinter::Fingerprinter(int sample_rate, int channels)
    : state_(std::make_unique<State>(sample_rate, std::max(channels, 1)))
{
}

Fingerprinter::Fingerprinter(Fingerprinter&&) noexcept = default;
Fingerprinter& Fingerprinter::operator=(Fingerprinter&&) noexcept = default;
Fingerprinter::~Fingerprinter() = default;

void Fingerprinter::Add(std::span<const float> interleaved)
{
    state_->Take(interleaved);
}

std::vector<Landmark> Fingerprinter::TakeReady()
{
    return std::exchange(state_->ready, {});
}

std::vector<Landmark> Fingerprinter::Finish()
{
    state_->Flush();
    return TakeReady();
}

std::vector<Landmark> FingerprintSound(SoundDecoder& decoder)
{
    Fingerprinter fingerprinter(decoder.sample_rate(), decoder.channels());
    std::vector<float> piece(kPieceFrames * static_cast<std::size_t>(decoder.channels()));
    std::vector<Landmark> landmarks;
    while (const std::size_t got = decoder.Read(piece)) {
        fingerprinter.Add(std::span<const float>(piece).first(got * static_cast<std::size_t>(decoder.channels())));
        std::vector<Landmark> ready = fingerprinter.TakeReady();
        landmarks.insert(landmarks.end(), ready.begin(), ready.end());
    }
    std::vector<Landmark> rest = fingerprinter.Finish();
    landmarks.insert(landmarks.end(), rest.begin(), rest.end());
    return landmarks;
}

}  // namespace quorvel::audio

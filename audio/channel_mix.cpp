#include "audio/channel_mix.hpp"

#include <algorithm>
#include <array>

namespace quorvel::audio {
namespace {

enum class Side { kLeft, kRight, kCentre, kLfe };

constexpr float kMinus3dB = 0.70710678f;

// The WAVE channel mask's order; a WAV without a mask, FLAC and AIFF as
// libsndfile gives them use its usual layouts for each count.
Side WaveSide(int channels, int index)
{
    using enum Side;
    static constexpr std::array<Side, 18> kMaskOrder = {
        kLeft, kRight, kCentre, kLfe,  kLeft,   kRight, kLeft, kRight,  kCentre,  // FL FR FC LFE BL BR FLC FRC BC
        kLeft, kRight, kCentre, kLeft, kCentre, kRight, kLeft, kCentre, kRight,   // SL SR TC TFL TFC TFR TBL TBC TBR
    };
    static constexpr std::array<Side, 4> kQuad = {kLeft, kRight, kLeft, kRight};
    static constexpr std::array<Side, 5> kFive = {kLeft, kRight, kCentre, kLeft, kRight};
    static constexpr std::array<Side, 7> kSix1 = {kLeft, kRight, kCentre, kLfe, kCentre, kLeft, kRight};
    switch (channels) {
        case 4:
            return kQuad[static_cast<std::size_t>(index)];
        case 5:
            return kFive[static_cast<std::size_t>(index)];
        case 7:
            return kSix1[static_cast<std::size_t>(index)];
        default:
            return index < 18 ? kMaskOrder[static_cast<std::size_t>(index)] : kCentre;
    }
}

// Vorbis' own order, which Opus shares.
Side VorbisSide(int channels, int index)
{
    using enum Side;
    static constexpr std::array<std::array<Side, 8>, 9> kLayouts = {{
        {},
        {},
        {},
        {kLeft, kCentre, kRight},
        {kLeft, kRight, kLeft, kRight},
        {kLeft, kCentre, kRight, kLeft, kRight},
        {kLeft, kCentre, kRight, kLeft, kRight, kLfe},
        {kLeft, kCentre, kRight, kLeft, kRight, kCentre, kLfe},
        {kLeft, kCentre, kRight, kLeft, kRight, kLeft, kRight, kLfe},
    }};
    if (channels > 8) {
        return kCentre;
    }
    return kLayouts[static_cast<std::size_t>(channels)][static_cast<std::size_t>(index)];
}

// 2 rows of `from` weights.
std::vector<float> IntoPair(int from, ChannelOrder order)
{
    std::vector<float> pair(static_cast<std::size_t>(2 * from), 0.0f);
    if (from <= 2) {
        for (int side = 0; side < 2; ++side) {
            pair[static_cast<std::size_t>(side * from + (from == 1 ? 0 : side))] = 1.0f;
        }
        return pair;
    }
    for (int input = 0; input < from; ++input) {
        const Side side = order == ChannelOrder::kVorbis ? VorbisSide(from, input) : WaveSide(from, input);
        const float left = side == Side::kLeft ? 1.0f : side == Side::kCentre ? kMinus3dB : 0.0f;
        const float right = side == Side::kRight ? 1.0f : side == Side::kCentre ? kMinus3dB : 0.0f;
        pair[static_cast<std::size_t>(input)] = left;
        pair[static_cast<std::size_t>(from + input)] = right;
    }
    return pair;
}

// `to` rows of 2 weights.
std::vector<float> OutOfPair(int to)
{
    std::vector<float> rows(static_cast<std::size_t>(2 * to), 0.0f);
    if (to == 1) {
        rows[0] = rows[1] = 0.5f;
        return rows;
    }
    rows[0] = 1.0f;  // front left
    rows[3] = 1.0f;  // front right
    return rows;
}

std::string Count(int channels)
{
    return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

}  // namespace

ChannelMix::ChannelMix(int from, int to, ChannelOrder order)
    : from_(from), to_(to), identity_(from == to), matrix_(static_cast<std::size_t>(from * to), 0.0f)
{
    if (identity_) {
        for (int channel = 0; channel < to; ++channel) {
            matrix_[static_cast<std::size_t>(channel * from + channel)] = 1.0f;
        }
        return;
    }
    const std::vector<float> into = IntoPair(from, order);
    const std::vector<float> out = OutOfPair(to);
    for (int output = 0; output < to; ++output) {
        for (int input = 0; input < from; ++input) {
            matrix_[static_cast<std::size_t>(output * from + input)] =
                out[static_cast<std::size_t>(output * 2)] * into[static_cast<std::size_t>(input)] +
                out[static_cast<std::size_t>(output * 2 + 1)] * into[static_cast<std::size_t>(from + input)];
        }
    }
}

void ChannelMix::Apply(std::span<const float> in, std::size_t frames, std::vector<float>& out) const
{
    const auto from = static_cast<std::size_t>(from_);
    const auto to = static_cast<std::size_t>(to_);
    out.resize(frames * to);
    if (identity_) {
        std::copy(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(frames * from), out.begin());
        return;
    }
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const float* input = in.data() + frame * from;
        for (std::size_t output = 0; output < to; ++output) {
            const float* weights = matrix_.data() + output * from;
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < from; ++channel) {
                sum += weights[channel] * input[channel];
            }
            out[frame * to + output] = sum;
        }
    }
}

std::string ChannelMix::Describe() const
{
    if (identity_) {
        return "channels kept";
    }
    std::string rule;
    if (from_ == 1 && to_ == 2) {
        return "mono to stereo: the same in both";
    }
    if (from_ == 2 && to_ == 1) {
        return "stereo to mono: the mean of the two";
    }
    rule = from_ > 2 ? Count(from_) + " folded down to stereo" : Count(from_);
    if (to_ == 1) {
        return rule + ", then the mean of the two";
    }
    if (to_ > 2) {
        return rule + " into the front left and right of " + Count(to_);
    }
    return rule;
}

}  // namespace quorvel::audio

#include "tools/sample_game/wav_synth.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "testing/archive_builder.hpp"
#include "testing/byte_order.hpp"
#include "testing/prng.hpp"
#include "tools/sample_game/sound_encoder.hpp"

namespace quorvel::sample {

using testing::PutLittleEndian;
using testing::SplitMix64;

namespace {

// Samples are made at 24-bit scale and narrowed for the file's format.
constexpr std::int32_t kFullScale = (1 << 23) - 1;
constexpr std::int32_t kUnityGain = 1 << 15;
constexpr std::uint32_t kChunkFrames = 4096;
constexpr std::uint32_t kQuarterTurn = 1u << 30;

// sin(2π·phase/2³²) at 24-bit scale: a parabola per half wave, refined once
// (error below 0.1%), in integers so that no maths library can differ.
std::int32_t Sine(std::uint32_t phase)
{
    const bool negative = phase >= 0x80000000u;
    const std::int64_t x = (phase & 0x7FFFFFFFu) >> 15;   // 0..65535 over the half wave
    const std::int64_t parabola = x * (65536 - x) >> 14;  // 0..65536
    const std::int64_t refined = parabola * (50790 + (14746 * parabola >> 16)) >> 16;
    const auto magnitude = static_cast<std::int32_t>(std::min<std::int64_t>(refined << 7, kFullScale));
    return negative ? -magnitude : magnitude;
}

std::int32_t Scale(std::int32_t sample, std::int32_t gain_q15)
{
    return static_cast<std::int32_t>(std::int64_t{sample} * gain_q15 >> 15);
}

std::int32_t Ramp(std::uint64_t position, std::uint64_t length)
{
    return length == 0 ? kUnityGain : static_cast<std::int32_t>(kUnityGain * position / length);
}

std::int32_t NoiseSample(SplitMix64& random)
{
    return static_cast<std::int32_t>(random.Next() >> 40) - (1 << 23);
}

// Phase step per frame for a frequency, with 16 extra bits of fraction so
// that slow chirps still move.
std::uint64_t PhaseStep(std::uint32_t hz, std::uint32_t sample_rate)
{
    return ((std::uint64_t{hz} << 32) / sample_rate) << 16;
}

// Vowel colours for the speech voice: amplitudes of harmonics 1..5 (Q15).
constexpr std::array<std::array<std::int32_t, 5>, 5> kVowels = {{
    {9000, 8000, 6000, 2500, 1200},
    {12000, 4000, 1500, 3500, 2500},
    {7000, 9000, 3000, 1000, 3000},
    {14000, 6000, 800, 500, 400},
    {6000, 5000, 7000, 4000, 1000},
}};

void Encode(std::span<const std::int32_t> samples, std::uint16_t bits_per_sample, std::span<std::byte> out)
{
    std::size_t at = 0;
    for (const std::int32_t sample : samples) {
        const std::int32_t clamped = std::clamp(sample, -kFullScale - 1, kFullScale);
        switch (bits_per_sample) {
            case 8:  // 8-bit WAV samples are unsigned around 128.
                out[at++] = static_cast<std::byte>((clamped >> 16) + 128);
                break;
            case 16:
                PutLittleEndian(out.subspan(at, 2), static_cast<std::uint32_t>(clamped >> 8));
                at += 2;
                break;
            default:
                PutLittleEndian(out.subspan(at, 3), static_cast<std::uint32_t>(clamped));
                at += 3;
                break;
        }
    }
}

std::string Header(const SoundParams& sound)
{
    const WavFormat& format = sound.format;
    return testing::PcmHeader(static_cast<std::uint32_t>(SoundFileSize(sound) - 8), format.channels, format.sample_rate,
                              format.bits_per_sample, static_cast<std::uint32_t>(SampleDataSize(sound)));
}

// A size or rate field can spell "RIFF" (a data size of 0x46464952, say);
// the extractor would cut the sound there, so such a sound is not made.
bool SpellsRiffAfterItsSignature(std::span<const std::byte> header)
{
    static constexpr std::array<std::byte, 4> kRiff = {std::byte{'R'}, std::byte{'I'}, std::byte{'F'}, std::byte{'F'}};
    return std::search(header.begin() + 1, header.end(), kRiff.begin(), kRiff.end()) != header.end();
}

void Validate(const SoundParams& sound)
{
    const WavFormat& format = sound.format;
    if (format.channels < 1 || format.channels > 2 || format.sample_rate == 0 ||
        (format.encoding == Encoding::kPcm && format.bits_per_sample != 8 && format.bits_per_sample != 16 &&
         format.bits_per_sample != 24)) {
        throw std::invalid_argument("sound format must be mono or stereo, 8, 16 or 24 bits, with a sample rate");
    }
    if (format.encoding != Encoding::kPcm && !EncodedSoundsAvailable()) {
        throw std::invalid_argument("this generator is built without libsndfile: only integer PCM sounds can be made");
    }
    if ((format.encoding == Encoding::kGsm610 || format.encoding == Encoding::kG721) && format.channels != 1) {
        throw std::invalid_argument("GSM 6.10 and G.721 sounds are mono");
    }
    if (sound.chance_riff_at && *sound.chance_riff_at + 12 > SampleDataSize(sound)) {
        throw std::invalid_argument("a chance \"RIFF\" needs 12 bytes of sample data from where it starts");
    }
    if (SoundFileSize(sound) - 8 > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::length_error("sound of " + std::to_string(SoundFileSize(sound)) +
                                " bytes is too long for a RIFF size");
    }
}

// Places one sample byte: the planted "RIFF" overrides the samples, the
// byte 8 after it is kept from being the "W" of "WAVE", all else is guarded.
void PlaceSampleByte(std::byte& value, std::uint64_t offset, const SoundParams& sound, ChanceRiffGuard& guard)
{
    static constexpr std::array<std::byte, 4> kRiff = {std::byte{'R'}, std::byte{'I'}, std::byte{'F'}, std::byte{'F'}};
    if (sound.chance_riff_at) {
        const std::uint64_t from_plant = offset - *sound.chance_riff_at;
        if (offset >= *sound.chance_riff_at && from_plant < kRiff.size()) {
            value = kRiff[from_plant];
            guard.Keep(value);
            return;
        }
        if (offset >= *sound.chance_riff_at && from_plant == 8 && value == std::byte{'W'}) {
            value = std::byte{'w'};
        }
    }
    guard.Scrub(value);
}

}  // namespace

class SoundChunks::Synth {
public:
    explicit Synth(const SoundParams& sound)
        : sound_(sound),
          random_(sound.seed),
          step_(PhaseStep(sound.start_hz, sound.format.sample_rate)),
          end_step_(PhaseStep(sound.end_hz, sound.format.sample_rate))
    {
    }

    // Fills whole frames, channels interleaved.
    void Render(std::span<std::int32_t> samples)
    {
        for (std::size_t i = 0; i + sound_.format.channels <= samples.size(); i += sound_.format.channels) {
            const auto [left, right] = NextFrame();
            const std::int32_t gain = Envelope();
            samples[i] = Scale(left, gain);
            if (sound_.format.channels == 2) {
                samples[i + 1] = Scale(right, gain);
            }
            ++frame_;
        }
    }

private:
    struct Frame {
        std::int32_t left;
        std::int32_t right;
    };

    Frame NextFrame()
    {
        switch (sound_.waveform) {
            case Waveform::kTone:
            case Waveform::kChirp:
                return NextSine();
            case Waveform::kNoiseBurst:
                return NextNoise();
            case Waveform::kSpeech:
                break;
        }
        const std::int32_t voice = NextSpeech();
        return {voice, voice};
    }

    // Short fades at both ends keep the sound from clicking.
    std::int32_t Envelope() const
    {
        const std::uint64_t total = sound_.frames;
        const std::uint64_t attack = std::min<std::uint64_t>(total / 8, sound_.format.sample_rate / 200);
        const std::uint64_t release = std::min<std::uint64_t>(total / 4, sound_.format.sample_rate / 20);
        const std::uint64_t left = total - frame_;
        if (frame_ < attack) {
            return Ramp(frame_, attack);
        }
        if (left <= release) {
            return Ramp(left, release);
        }
        return kUnityGain;
    }

    Frame NextSine()
    {
        const auto phase = static_cast<std::uint32_t>(phase_ >> 16);
        phase_ += step_;
        if (sound_.waveform == Waveform::kChirp && sound_.frames > 0) {
            const std::int64_t span = static_cast<std::int64_t>(end_step_) - static_cast<std::int64_t>(step_start_);
            step_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(step_start_) +
                                               span / sound_.frames * static_cast<std::int64_t>(frame_ + 1));
        }
        // Half scale; the right channel a quarter turn behind for width.
        return {Sine(phase) / 2, Sine(phase - kQuarterTurn) / 2};
    }

    Frame NextNoise()
    {
        // A one-pole low-pass darkens the noise; squared decay makes it a hit.
        left_ += (NoiseSample(random_) - left_) / 4;
        right_ += (NoiseSample(random_) - right_) / 4;
        const std::int32_t decay = Ramp(sound_.frames - frame_, sound_.frames);
        const std::int32_t gain = Scale(decay, decay);
        return {Scale(left_, gain), Scale(right_, gain)};
    }

    std::int32_t NextSpeech()
    {
        if (syllable_left_ == 0) {
            StartSyllable();
        }
        const std::uint64_t position = syllable_length_ - syllable_left_;
        --syllable_left_;
        const auto syllable_phase = static_cast<std::uint32_t>((position << 31) / syllable_length_);
        const std::int32_t syllable_gain = voiced_ ? Sine(syllable_phase) >> 8 : 0;

        // Intonation falls by a fifth of the pitch over the line, with a
        // slow wobble on top.
        const std::int64_t base_q8 = std::int64_t{sound_.start_hz} << 8;
        const std::int64_t fall_q8 = base_q8 / 5 * static_cast<std::int64_t>(frame_) / sound_.frames;
        const std::int64_t wobble_q8 = std::int64_t{Sine(wobble_phase_)} * (base_q8 / 40) >> 23;
        wobble_phase_ += static_cast<std::uint32_t>((std::uint64_t{5} << 32) / sound_.format.sample_rate);
        const std::int64_t pitch_q8 = std::max<std::int64_t>(base_q8 - fall_q8 + wobble_q8, 256);
        voice_phase_ +=
            static_cast<std::uint32_t>((static_cast<std::uint64_t>(pitch_q8) << 24) / sound_.format.sample_rate);

        std::int64_t voice = 0;
        for (std::uint32_t harmonic = 1; harmonic <= kVowels[vowel_].size(); ++harmonic) {
            voice += std::int64_t{Sine(voice_phase_ * harmonic)} * kVowels[vowel_][harmonic - 1] >> 15;
        }
        // A breath of noise opens each syllable, like a consonant.
        if (position < sound_.format.sample_rate / 60) {
            voice += NoiseSample(random_) / 6;
        }
        const auto clipped = static_cast<std::int32_t>(std::clamp<std::int64_t>(voice, -kFullScale, kFullScale));
        return Scale(clipped, syllable_gain);
    }

    void StartSyllable()
    {
        voiced_ = random_.Between(0, 5) != 0;
        vowel_ = static_cast<std::size_t>(random_.Between(0, kVowels.size() - 1));
        const std::uint64_t milliseconds = voiced_ ? random_.Between(120, 280) : random_.Between(60, 150);
        syllable_length_ = std::max<std::uint64_t>(1, sound_.format.sample_rate * milliseconds / 1000);
        syllable_left_ = syllable_length_;
    }

    const SoundParams& sound_;
    SplitMix64 random_;
    std::uint64_t frame_ = 0;
    // Tone and chirp.
    std::uint64_t phase_ = 0;
    std::uint64_t step_;
    const std::uint64_t step_start_ = step_;
    std::uint64_t end_step_;
    // Noise.
    std::int32_t left_ = 0;
    std::int32_t right_ = 0;
    // Speech.
    std::uint32_t voice_phase_ = 0;
    std::uint32_t wobble_phase_ = 0;
    std::uint64_t syllable_length_ = 1;
    std::uint64_t syllable_left_ = 0;
    std::size_t vowel_ = 0;
    bool voiced_ = false;
};

bool EncodedSoundsAvailable()
{
    return LibsndfileBuiltIn();
}

std::span<const WavFormat> SoundFormats()
{
    static const auto every = [] {
        std::array<WavFormat, kFormats.size() + kEncodedFormats.size()> formats{};
        std::copy(kEncodedFormats.begin(), kEncodedFormats.end(),
                  std::copy(kFormats.begin(), kFormats.end(), formats.begin()));
        return formats;
    }();
    return EncodedSoundsAvailable() ? std::span<const WavFormat>(every) : std::span<const WavFormat>(kFormats);
}

bool SlowToEncode(const WavFormat& format)
{
    return format.encoding == Encoding::kGsm610 || format.encoding == Encoding::kG721;
}

// Where libsndfile puts what, as it writes WAV (checked against it by the
// tests): the chunks before the samples, and the blocks of each encoding.
std::uint64_t HeaderSize(const WavFormat& format)
{
    switch (format.encoding) {
        case Encoding::kPcm:
        case Encoding::kPcm32:
            return kWavHeaderSize;
        case Encoding::kExtensiblePcm:  // fmt of 40 bytes, fact
            return 80;
        case Encoding::kFloat32:
        case Encoding::kFloat64:  // fmt of 16 bytes, fact, and padding where a PEAK chunk would go
            return 72 + 8 * std::uint64_t{format.channels};
        case Encoding::kMsAdpcm:  // fmt of 50 bytes (the 7 predictor pairs), fact
            return 90;
        case Encoding::kMuLaw:
        case Encoding::kALaw:  // fmt of 18 bytes, fact
            return 58;
        case Encoding::kImaAdpcm:
        case Encoding::kGsm610:
        case Encoding::kG721:  // fmt of 20 bytes, fact
            return 60;
    }
    return kWavHeaderSize;
}

namespace {

// libsndfile's ADPCM block: 256 bytes below 12 kHz of samples a second
// (all channels), 512 below 23 kHz, 1024 above, for each channel.
std::uint64_t AdpcmBlockAlign(const WavFormat& format)
{
    const std::uint64_t rate = std::uint64_t{format.sample_rate} * format.channels;
    const std::uint64_t per_channel = rate < 12000 ? 256 : rate < 23000 ? 512 : 1024;
    return per_channel * format.channels;
}

struct Blocks {
    std::uint64_t bytes;
    std::uint64_t frames;
};

// The blocks of an encoding that writes whole blocks (a started one filled
// with silence); nothing for the others.
std::optional<Blocks> BlocksOf(const WavFormat& format)
{
    const std::uint64_t channels = format.channels;
    switch (format.encoding) {
        case Encoding::kImaAdpcm: {
            const std::uint64_t align = AdpcmBlockAlign(format);
            return Blocks{align, (align - 4 * channels) * 2 / channels + 1};
        }
        case Encoding::kMsAdpcm: {
            const std::uint64_t align = AdpcmBlockAlign(format);
            return Blocks{align, (align - 7 * channels) * 2 / channels + 2};
        }
        case Encoding::kGsm610:
            return Blocks{65, 320};
        case Encoding::kG721:  // libsndfile writes 120 samples at a time
            return Blocks{60, 120};
        default:
            return std::nullopt;
    }
}

std::uint64_t SampleBytes(const WavFormat& format)
{
    switch (format.encoding) {
        case Encoding::kPcm:
            return format.bits_per_sample / 8u;
        case Encoding::kPcm32:
        case Encoding::kFloat32:
            return 4;
        case Encoding::kExtensiblePcm:
            return format.bits_per_sample / 8u;
        case Encoding::kFloat64:
            return 8;
        default:
            return 1;  // µ-law and A-law
    }
}

}  // namespace

std::uint64_t SampleDataSize(const SoundParams& sound)
{
    if (const auto blocks = BlocksOf(sound.format)) {
        return (sound.frames + blocks->frames - 1) / blocks->frames * blocks->bytes;
    }
    return std::uint64_t{sound.frames} * sound.format.channels * SampleBytes(sound.format);
}

std::uint64_t SoundFileSize(const SoundParams& sound)
{
    const std::uint64_t data_size = SampleDataSize(sound);
    return HeaderSize(sound.format) + data_size + data_size % 2;
}

std::uint32_t FramesForFileSize(const WavFormat& format, std::uint64_t file_size)
{
    if (format.encoding != Encoding::kPcm) {
        // The most frames that fit: sizes grow with frames, never shrink.
        std::uint64_t low = 0;
        std::uint64_t high = std::min<std::uint64_t>(file_size * 8, std::numeric_limits<std::uint32_t>::max());
        while (low < high) {
            const std::uint64_t middle = low + (high - low + 1) / 2;
            const SoundParams sound{.format = format, .frames = static_cast<std::uint32_t>(middle)};
            if (SoundFileSize(sound) <= file_size) {
                low = middle;
            } else {
                high = middle - 1;
            }
        }
        return static_cast<std::uint32_t>(low);
    }
    if (file_size < kWavHeaderSize || format.BlockAlign() == 0) {
        return 0;
    }
    const std::uint64_t frames = (file_size - kWavHeaderSize) / format.BlockAlign();
    SoundParams sound{.format = format,
                      .frames = static_cast<std::uint32_t>(
                          std::min<std::uint64_t>(frames, std::numeric_limits<std::uint32_t>::max()))};
    while (sound.frames > 0 && SoundFileSize(sound) > file_size) {
        --sound.frames;  // the pad byte of an odd data size did not fit
    }
    return sound.frames;
}

SoundChunks::SoundChunks(const SoundParams& sound, ChanceRiffGuard& guard) : sound_(sound), guard_(guard)
{
    Validate(sound);
    if (sound.format.encoding == Encoding::kPcm && SpellsRiffAfterItsSignature(testing::AsBytes(Header(sound)))) {
        throw std::invalid_argument("a sound whose header spells \"RIFF\" after its signature would be cut in two");
    }
}

SoundChunks::~SoundChunks() = default;

bool SoundChunks::Next(std::vector<std::byte>& chunk)
{
    if (sound_.format.encoding != Encoding::kPcm) {
        return NextEncoded(chunk);
    }
    if (!synth_) {
        const std::string header = Header(sound_);
        for (const std::byte value : testing::AsBytes(header)) {
            guard_.Keep(value);
            chunk.push_back(value);
        }
        synth_ = std::make_unique<Synth>(sound_);
        return true;
    }
    if (frames_done_ < sound_.frames) {
        const std::uint32_t frames = std::min(kChunkFrames, sound_.frames - frames_done_);
        samples_.resize(std::size_t{frames} * sound_.format.channels);
        synth_->Render(samples_);
        const std::size_t start = chunk.size();
        chunk.resize(start + std::size_t{frames} * sound_.format.BlockAlign());
        Encode(samples_, sound_.format.bits_per_sample, std::span(chunk).subspan(start));
        for (std::byte& value : std::span(chunk).subspan(start)) {
            PlaceSampleByte(value, sample_offset_++, sound_, guard_);
        }
        frames_done_ += frames;
        return true;
    }
    if (SampleDataSize(sound_) % 2 != 0 && !padded_) {
        chunk.push_back(std::byte{0});
        guard_.Keep(std::byte{0});
        padded_ = true;
        return true;
    }
    return false;
}

// libsndfile encodes the whole sound at once (one sound's bytes are held,
// however long the game); its header is kept as written, its samples
// guarded as integer PCM's are.
bool SoundChunks::NextEncoded(std::vector<std::byte>& chunk)
{
    constexpr std::size_t kPiece = 0x10000;
    if (!synth_) {
        synth_ = std::make_unique<Synth>(sound_);
        encoded_ = EncodeWithLibsndfile(sound_.format, sound_.frames,
                                        [this](std::span<std::int32_t> samples) { synth_->Render(samples); });
        if (encoded_.size() != SoundFileSize(sound_)) {
            throw std::logic_error("libsndfile wrote " + std::to_string(encoded_.size()) + " bytes of a sound of " +
                                   std::to_string(SoundFileSize(sound_)) + " planned");
        }
        const auto header = std::span(encoded_).first(static_cast<std::size_t>(HeaderSize(sound_.format)));
        if (SpellsRiffAfterItsSignature(header)) {
            throw std::invalid_argument("a sound whose header spells \"RIFF\" after its signature would be cut in two");
        }
        for (const std::byte value : header) {
            guard_.Keep(value);
        }
        chunk.insert(chunk.end(), header.begin(), header.end());
        encoded_at_ = header.size();
        return true;
    }
    const std::uint64_t data_end = HeaderSize(sound_.format) + SampleDataSize(sound_);
    if (encoded_at_ < data_end) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, data_end - encoded_at_));
        const std::size_t start = chunk.size();
        chunk.insert(chunk.end(), encoded_.begin() + static_cast<std::ptrdiff_t>(encoded_at_),
                     encoded_.begin() + static_cast<std::ptrdiff_t>(encoded_at_ + piece));
        for (std::byte& value : std::span(chunk).subspan(start)) {
            PlaceSampleByte(value, sample_offset_++, sound_, guard_);
        }
        encoded_at_ += piece;
        return true;
    }
    if (encoded_at_ < encoded_.size()) {  // the pad byte of an odd data size
        for (; encoded_at_ < encoded_.size(); ++encoded_at_) {
            guard_.Keep(encoded_[encoded_at_]);
            chunk.push_back(encoded_[encoded_at_]);
        }
        encoded_.clear();
        return true;
    }
    return false;
}

std::vector<std::byte> MakeSound(const SoundParams& sound)
{
    ChanceRiffGuard guard;
    SoundChunks chunks(sound, guard);
    std::vector<std::byte> bytes;
    while (chunks.Next(bytes)) {
    }
    return bytes;
}

}  // namespace quorvel::sample

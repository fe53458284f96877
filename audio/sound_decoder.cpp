#include "audio/sound_decoder.hpp"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "audio/input_slice.hpp"

namespace quorvel::audio {

// The decoder's reading position is ours: libsndfile's virtual I/O asks
// for it, and InputFile has none of its own.
struct SoundDecoder::State {
    std::unique_ptr<InputFile> owned_input;
    std::unique_ptr<InputFile> past_tag;  // the input after an MP3's ID3v2 tag
    InputFile* input = nullptr;
    std::string name;
    sf_count_t position = 0;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::int64_t limit = 0;
    std::int64_t at = 0;  // the next frame Read gives
    // Set once libsndfile could not seek this encoding (GSM 6.10, G.721):
    // going back then means decoding again from the start.
    bool decodes_from_start = false;
    // What the input threw while libsndfile read from it: libsndfile only
    // sees a short read, so the failure itself is thrown after its call.
    std::exception_ptr input_failure;
    std::vector<float> floats;  // a float sound's samples on their way to 16 bits

    ~State() { Close(); }

    void Close()
    {
        if (file != nullptr) {
            sf_close(file);
            file = nullptr;
        }
    }

    void ThrowInputFailure()
    {
        if (input_failure) {
            std::rethrow_exception(std::exchange(input_failure, nullptr));
        }
    }

    [[noreturn]] void Fail(const std::string& why) const { throw SoundError(name + ": cannot be decoded: " + why); }
};

namespace {

using State = SoundDecoder::State;

sf_count_t Length(void* user)
{
    return static_cast<sf_count_t>(static_cast<State*>(user)->input->Size());
}

sf_count_t SeekTo(sf_count_t offset, int whence, void* user)
{
    auto* state = static_cast<State*>(user);
    const auto size = static_cast<sf_count_t>(state->input->Size());
    sf_count_t base = 0;
    switch (whence) {
        case SEEK_CUR:
            base = state->position;
            break;
        case SEEK_END:
            base = size;
            break;
        default:
            break;
    }
    // A header may ask for any position: one outside the file stays outside
    // it, where reads give nothing.
    const sf_count_t target = base + std::clamp<sf_count_t>(offset, -base, std::numeric_limits<sf_count_t>::max() / 2);
    state->position = std::max<sf_count_t>(target, 0);
    return state->position;
}

sf_count_t ReadFrom(void* buffer, sf_count_t count, void* user)
{
    auto* state = static_cast<State*>(user);
    if (count <= 0 || state->position < 0) {
        return 0;
    }
    auto* out = static_cast<std::byte*>(buffer);
    sf_count_t done = 0;
    try {
        while (done < count) {
            const std::size_t got = state->input->ReadAt(static_cast<std::uint64_t>(state->position),
                                                         std::span(out + done, static_cast<std::size_t>(count - done)));
            if (got == 0) {
                break;
            }
            done += static_cast<sf_count_t>(got);
            state->position += static_cast<sf_count_t>(got);
        }
    } catch (...) {
        // libsndfile takes a short read for the end of the file; the failure
        // itself is thrown once libsndfile returns.
        state->input_failure = std::current_exception();
    }
    return done;
}

sf_count_t NoWrite(const void* /*buffer*/, sf_count_t /*count*/, void* /*user*/)
{
    return 0;
}

sf_count_t Tell(void* user)
{
    return static_cast<State*>(user)->position;
}

// Opens (or opens again) libsndfile's handle, at the first frame.
void OpenHandle(State& state)
{
    static SF_VIRTUAL_IO io{Length, SeekTo, ReadFrom, NoWrite, Tell};
    state.Close();
    state.position = 0;
    state.at = 0;
    state.info = SF_INFO{};
    state.file = sf_open_virtual(&io, SFM_READ, &state.info, &state);
    state.ThrowInputFailure();
    if (state.file == nullptr) {
        state.Fail(sf_strerror(nullptr));
    }
    if (state.info.channels <= 0 || state.info.samplerate <= 0 || state.info.frames < 0) {
        state.Fail("its header gives " + std::to_string(state.info.channels) + " channels at " +
                   std::to_string(state.info.samplerate) + " Hz");
    }
    // Floats read from integer sounds are scaled into [-1, 1], libsndfile's
    // default. Not SFC_SET_SCALE_FLOAT_INT_READ: it reads the whole sound
    // when it is opened, to scale a float sound's 16-bit samples by its
    // loudest, which would also make them louder than they are; Read makes
    // those itself.
}

// The length of the ID3v2 tag `input` starts with (an MP3's title, artist,
// pictures), or 0 for none. The tag is passed over before libsndfile sees
// the stream: nothing in it is used, and libsndfile built for Windows does
// not return from an MP3 that starts with one when it reads it through
// its virtual I/O.
std::uint64_t Id3TagLength(InputFile& input)
{
    std::array<std::byte, 10> head{};
    if (input.ReadAt(0, head) != head.size()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return std::to_integer<std::uint32_t>(head[i]); };
    const bool tag = byte(0) == 'I' && byte(1) == 'D' && byte(2) == '3' && byte(3) != 0xFF && byte(4) != 0xFF &&
                     (byte(6) | byte(7) | byte(8) | byte(9)) < 0x80;
    if (!tag) {
        return 0;
    }
    const std::uint64_t body = (byte(6) << 21) | (byte(7) << 14) | (byte(8) << 7) | byte(9);
    const bool footer = (byte(5) & 0x10) != 0;
    const std::uint64_t length = head.size() + body + (footer ? 10 : 0);
    return length < input.Size() ? length : 0;
}

}  // namespace

SoundDecoder SoundDecoder::Open(InputFile& input, std::string name)
{
    auto state = std::make_unique<State>();
    state->input = &input;
    if (const std::uint64_t tag = Id3TagLength(input)) {
        state->past_tag = std::make_unique<InputSlice>(input, tag, input.Size() - tag);
        state->input = state->past_tag.get();
    }
    state->name = std::move(name);
    OpenHandle(*state);
    state->limit = state->info.frames;
    return SoundDecoder(std::move(state));
}

SoundDecoder SoundDecoder::Open(std::unique_ptr<InputFile> input, std::string name)
{
    InputFile& kept = *input;
    SoundDecoder decoder = Open(kept, std::move(name));
    decoder.state_->owned_input = std::move(input);
    return decoder;
}

SoundDecoder::SoundDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
SoundDecoder::SoundDecoder(SoundDecoder&&) noexcept = default;
SoundDecoder& SoundDecoder::operator=(SoundDecoder&&) noexcept = default;
SoundDecoder::~SoundDecoder() = default;

int SoundDecoder::channels() const
{
    return state_->info.channels;
}

int SoundDecoder::sample_rate() const
{
    return state_->info.samplerate;
}

std::int64_t SoundDecoder::frames() const
{
    return state_->limit;
}

int SoundDecoder::sf_format() const
{
    return state_->info.format;
}

const std::string& SoundDecoder::name() const
{
    return state_->name;
}

void SoundDecoder::LimitFrames(std::int64_t frames)
{
    state_->limit = std::clamp<std::int64_t>(frames, 0, state_->info.frames);
}

namespace {

template <typename Sample, typename ReadFunction>
std::size_t ReadSome(State& state, std::span<Sample> out, ReadFunction read)
{
    const auto channels = static_cast<std::size_t>(state.info.channels);
    const std::int64_t wanted =
        std::min<std::int64_t>(static_cast<std::int64_t>(out.size() / channels), state.limit - state.at);
    if (wanted <= 0) {
        return 0;
    }
    const sf_count_t got = read(state.file, out.data(), static_cast<sf_count_t>(wanted));
    state.ThrowInputFailure();
    if (got < 0 || (got == 0 && sf_error(state.file) != SF_ERR_NO_ERROR)) {
        state.Fail(sf_strerror(state.file));
    }
    state.at += got;
    return static_cast<std::size_t>(got);
}

// Decodes and drops frames up to `target`, for an encoding libsndfile
// cannot seek.
void SkipTo(State& state, std::int64_t target)
{
    std::vector<float> scratch(std::size_t{4096} * static_cast<std::size_t>(state.info.channels));
    while (state.at < target) {
        const std::size_t room = static_cast<std::size_t>(std::min<std::int64_t>(target - state.at, 4096)) *
                                 static_cast<std::size_t>(state.info.channels);
        if (ReadSome(state, std::span(scratch).first(room), sf_readf_float) == 0) {
            state.Fail("it ends at frame " + std::to_string(state.at) + " of " + std::to_string(state.limit));
        }
    }
}

}  // namespace

std::size_t SoundDecoder::Read(std::span<float> out)
{
    return ReadSome(*state_, out, sf_readf_float);
}

std::size_t SoundDecoder::Read(std::span<std::int16_t> out)
{
    State& state = *state_;
    const int encoding = state.info.format & SF_FORMAT_SUBMASK;
    if (encoding != SF_FORMAT_FLOAT && encoding != SF_FORMAT_DOUBLE) {
        return ReadSome(state, out, sf_readf_short);
    }
    // libsndfile gives a float sound's 16-bit samples unscaled, or scaled
    // by its loudest sample: full scale is 1.0 here, as everywhere else.
    state.floats.resize(out.size());
    const std::size_t got = ReadSome(state, std::span(state.floats), sf_readf_float);
    const std::size_t samples = got * static_cast<std::size_t>(state.info.channels);
    for (std::size_t i = 0; i < samples; ++i) {
        const float sample = std::isnan(state.floats[i]) ? 0.0F : std::clamp(state.floats[i], -1.0F, 1.0F);
        out[i] = static_cast<std::int16_t>(std::lrint(sample * 32767.0F));
    }
    return got;
}

std::size_t SoundDecoder::Read(std::span<std::int32_t> out)
{
    return ReadSome(*state_, out, sf_readf_int);
}

void SoundDecoder::Seek(std::int64_t frame)
{
    State& state = *state_;
    const std::int64_t target = std::clamp<std::int64_t>(frame, 0, state.limit);
    if (target == state.at) {
        return;
    }
    if (!state.decodes_from_start) {
        const sf_count_t went = sf_seek(state.file, static_cast<sf_count_t>(target), SEEK_SET);
        state.ThrowInputFailure();
        if (went == target) {
            state.at = target;
            return;
        }
        // Where a failed seek left libsndfile is its own business: start again.
        state.decodes_from_start = true;
        state.at = state.limit + 1;
    }
    if (target < state.at) {
        const std::int64_t limit = state.limit;
        OpenHandle(state);
        state.limit = std::min<std::int64_t>(limit, state.info.frames);
    }
    SkipTo(state, target);
}

}  // namespace quorvel::audio

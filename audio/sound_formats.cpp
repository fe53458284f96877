#include "audio/sound_formats.hpp"

#include <sndfile.h>

#include <array>
#include <cctype>
#include <optional>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {
namespace {

// libsndfile's ADPCM block sizes, each from a product of rate and channels.
struct AdpcmBlocks {
    int block_align;
    long long from_product;  // this block size from here up to the next one's
};
constexpr std::array<AdpcmBlocks, 4> kAdpcmBlocks = {{{256, 0}, {512, 12000}, {1024, 23000}, {2048, 44000}}};

std::string Hex(std::uint16_t tag)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(tag >> shift) & 0xF];
    }
    return text;
}

std::string SfName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr) {
        return Hex(static_cast<std::uint16_t>(format));
    }
    return info.name;
}

std::string Extension(int major)
{
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.extension == nullptr) {
        return SfName(major);
    }
    std::string text = info.extension;
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string SubtypeName(int subtype)
{
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return "PCM 8 bit";
        case SF_FORMAT_PCM_16:
            return "PCM 16 bit";
        case SF_FORMAT_PCM_24:
            return "PCM 24 bit";
        case SF_FORMAT_PCM_32:
            return "PCM 32 bit";
        case SF_FORMAT_FLOAT:
            return "float 32 bit";
        case SF_FORMAT_DOUBLE:
            return "float 64 bit";
        case SF_FORMAT_IMA_ADPCM:
            return "IMA ADPCM";
        case SF_FORMAT_MS_ADPCM:
            return "MS ADPCM";
        case SF_FORMAT_GSM610:
            return "GSM 6.10";
        case SF_FORMAT_ULAW:
            return "µ-law";
        case SF_FORMAT_ALAW:
            return "A-law";
        case SF_FORMAT_G721_32:
            return "G.721 ADPCM";
        default:
            return SfName(subtype);
    }
}

// The block size the replaced sound has, where it is one libsndfile makes
// and its samples per block are the ones that block size gives.
std::optional<int> EncoderRateForBlocks(const WavFmt& fmt)
{
    const int channels = fmt.channels;
    const int header = fmt.encoding == wave_tag::kImaAdpcm ? 4 : 7;
    const int first = fmt.encoding == wave_tag::kImaAdpcm ? 1 : 2;
    const int expected_samples = (fmt.block_align - header * channels) * 2 / channels + first;
    if (fmt.block_align <= header * channels || fmt.samples_per_block != expected_samples) {
        return std::nullopt;
    }
    if (LibsndfileAdpcmBlockSize(static_cast<long long>(fmt.sample_rate) * channels) == fmt.block_align) {
        return static_cast<int>(fmt.sample_rate);
    }
    for (const AdpcmBlocks& blocks : kAdpcmBlocks) {
        if (blocks.block_align == fmt.block_align) {
            const long long product = blocks.from_product == 0 ? 8000 : blocks.from_product;
            const auto rate = static_cast<int>((product + channels - 1) / channels);
            if (LibsndfileAdpcmBlockSize(static_cast<long long>(rate) * channels) == fmt.block_align) {
                return rate;
            }
        }
    }
    return std::nullopt;
}

TargetFormat Pcm(const WavFmt& fmt, const std::string& name)
{
    TargetFormat target;
    const int container = fmt.block_align / fmt.channels * 8;
    const int valid = fmt.valid_bits == 0 || fmt.valid_bits > container ? container : fmt.valid_bits;
    switch (container) {
        case 8:
            target.sf_format = SF_FORMAT_PCM_U8;
            target.id = "pcm_u8";
            break;
        case 16:
            target.sf_format = SF_FORMAT_PCM_16;
            target.id = "pcm_s16";
            break;
        case 24:
            target.sf_format = SF_FORMAT_PCM_24;
            target.id = "pcm_s24";
            break;
        case 32:
            target.sf_format = SF_FORMAT_PCM_32;
            target.id = "pcm_s32";
            break;
        default:
            throw SoundError(name + ": its PCM samples take " + std::to_string(container) +
                             " bits each; a replacement is written in 8, 16, 24 or 32");
    }
    target.quantise_bits = valid <= 24 ? valid : 0;
    target.name = "PCM " + std::to_string(container) + " bit";
    return target;
}

TargetFormat Float(const WavFmt& fmt, const std::string& name)
{
    TargetFormat target;
    const int container = fmt.block_align / fmt.channels * 8;
    if (container != 32 && container != 64) {
        throw SoundError(name + ": its float samples take " + std::to_string(container) +
                         " bits each; a replacement is written in 32 or 64");
    }
    target.sf_format = container == 32 ? SF_FORMAT_FLOAT : SF_FORMAT_DOUBLE;
    target.id = container == 32 ? "float32" : "float64";
    target.name = "float " + std::to_string(container) + " bit";
    return target;
}

TargetFormat Codec(int subtype, const char* id)
{
    TargetFormat target;
    target.sf_format = subtype;
    target.id = id;
    target.name = SubtypeName(subtype);
    target.quantise_bits = 16;
    return target;
}

}  // namespace

int LibsndfileAdpcmBlockSize(long long rate_times_channels)
{
    int block_align = kAdpcmBlocks.front().block_align;
    for (const AdpcmBlocks& blocks : kAdpcmBlocks) {
        if (rate_times_channels >= blocks.from_product) {
            block_align = blocks.block_align;
        }
    }
    return block_align;
}

TargetFormat ChooseTarget(const WavFmt& replaced, const std::string& name)
{
    TargetFormat target;
    switch (replaced.encoding) {
        case wave_tag::kPcm:
            target = Pcm(replaced, name);
            break;
        case wave_tag::kFloat:
            target = Float(replaced, name);
            break;
        case wave_tag::kImaAdpcm:
            target = Codec(SF_FORMAT_IMA_ADPCM, "ima_adpcm");
            break;
        case wave_tag::kMsAdpcm:
            target = Codec(SF_FORMAT_MS_ADPCM, "ms_adpcm");
            break;
        case wave_tag::kGsm610:
            target = Codec(SF_FORMAT_GSM610, "gsm610");
            break;
        case wave_tag::kUlaw:
            target = Codec(SF_FORMAT_ULAW, "ulaw");
            break;
        case wave_tag::kAlaw:
            target = Codec(SF_FORMAT_ALAW, "alaw");
            break;
        case wave_tag::kG721:
            target = Codec(SF_FORMAT_G721_32, "g721");
            break;
        default:
            throw SoundError(name + ": it is stored as " +
                             (replaced.encoding == 0 ? std::string("an extensible sub-format")
                                                     : "format " + Hex(replaced.encoding)) +
                             ", which no encoder here writes");
    }
    target.fmt = replaced;
    target.sf_format |= SF_FORMAT_WAV;
    target.encoder_rate = static_cast<int>(replaced.sample_rate);
    if (replaced.encoding == wave_tag::kImaAdpcm || replaced.encoding == wave_tag::kMsAdpcm) {
        target.encoder_rate = EncoderRateForBlocks(replaced).value_or(target.encoder_rate);
    }
    return target;
}

std::string DescribeSource(int sf_format)
{
    const int major = sf_format & SF_FORMAT_TYPEMASK;
    const int subtype = sf_format & SF_FORMAT_SUBMASK;
    switch (major) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
            return "WAV " + SubtypeName(subtype);
        case SF_FORMAT_FLAC:
            return "FLAC";
        case SF_FORMAT_AIFF:
            return "AIFF";
        case SF_FORMAT_MPEG:
            return subtype == SF_FORMAT_MPEG_LAYER_I ? "MP1" : subtype == SF_FORMAT_MPEG_LAYER_II ? "MP2" : "MP3";
        case SF_FORMAT_OGG:
            return subtype == SF_FORMAT_OPUS ? "Opus" : subtype == SF_FORMAT_VORBIS ? "Ogg Vorbis" : "Ogg";
        default:
            return Extension(major);
    }
}

int SourceDepth(int sf_format)
{
    switch (sf_format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 8;
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_GSM610:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_G721_32:
            return 16;
        case SF_FORMAT_PCM_24:
            return 24;
        default:
            return 0;
    }
}

}  // namespace quorvel::audio

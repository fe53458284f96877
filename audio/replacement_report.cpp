#include "audio/replacement_report.hpp"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace quorvel::audio {
namespace {

std::string Fixed(double value, int decimals, bool sign = false)
{
    char text[64];
    std::snprintf(text, sizeof(text), sign ? "%+.*f" : "%.*f", decimals, value);
    // "-0.0" says a sign the figure does not have.
    // The digits alone, with no sign, for a figure of all zeros.
    const std::string_view digits(text);
    if (digits.find_first_not_of("+-0.") == std::string_view::npos) {
        const std::string_view unsigned_digits = digits.substr(digits.find_first_of('0'));
        return std::string(sign ? "+" : "").append(unsigned_digits);
    }
    return std::string(digits);
}

std::string Level(const Loudness& loudness)
{
    return loudness.lufs ? Fixed(*loudness.lufs, 1) + " LUFS" : "silent";
}

std::string Summary(const SoundSummary& sound)
{
    return sound.format + ", " + std::to_string(sound.channels) + " ch, " + std::to_string(sound.sample_rate) +
           " Hz, " + Fixed(sound.seconds(), 2) + " s, " + Level(sound.loudness);
}

std::string LevelText(const ReplacementReport& report)
{
    switch (report.level) {
        case LevelRule::kMatched:
            return "gain " + Fixed(report.gain_db, 1, true) + " dB, matched to the sound it replaces";
        case LevelRule::kKept:
            return "level kept";
        case LevelRule::kCopied:
            return "level kept, copied byte for byte";
        case LevelRule::kReplacedSilent:
            return "level kept: the sound it replaces is silent";
        case LevelRule::kNewSilent:
            return "level kept: the new sound is silent";
    }
    return {};
}

const char* LevelId(LevelRule level)
{
    switch (level) {
        case LevelRule::kMatched:
            return "matched";
        case LevelRule::kKept:
            return "kept";
        case LevelRule::kCopied:
            return "copied";
        case LevelRule::kReplacedSilent:
            return "replaced_silent";
        case LevelRule::kNewSilent:
            return "new_silent";
    }
    return "";
}

const char* NoteId(ReplacementNote::Kind kind)
{
    using enum ReplacementNote::Kind;
    switch (kind) {
        case kGainLowered:
            return "gain_lowered";
        case kLoopDropped:
            return "loop_dropped";
        case kCuePointDropped:
            return "cue_point_dropped";
        case kBlockSizeNotMatched:
            return "block_size_not_matched";
        case kTrimmed:
            return "trimmed";
        case kPadded:
            return "padded";
    }
    return "";
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value, int decimals)
{
    return std::isfinite(value) ? Fixed(value, decimals) : "null";
}

std::string JsonSound(const SoundSummary& sound, bool with_peak)
{
    std::string out = "{\"format\": " + JsonString(sound.format);
    if (!sound.encoding.empty()) {
        out += ", \"encoding\": " + JsonString(sound.encoding);
    }
    out += ", \"channels\": " + std::to_string(sound.channels) + ", \"rate\": " + std::to_string(sound.sample_rate) +
           ", \"frames\": " + std::to_string(sound.frames) + ", \"seconds\": " + Fixed(sound.seconds(), 2) +
           ", \"lufs\": " + (sound.loudness.lufs ? Fixed(*sound.loudness.lufs, 1) : "null") + ", \"measure\": " +
           (sound.loudness.measure == LoudnessMeasure::kIntegrated ? "\"integrated\"" : "\"whole_sound\"");
    if (with_peak) {
        out += ", \"true_peak_dbtp\": " + JsonNumber(sound.loudness.peak_db, 1);
    }
    return out + "}";
}

}  // namespace

std::string ReplacementReport::Text() const
{
    std::string text = name + " (" + Summary(input) + ") -> " + Summary(output) + " (" + LevelText(*this) + ")\n";
    for (const ReplacementNote& note : notes) {
        text += note.text + "\n";
    }
    return text;
}

std::string ReplacementReport::Json() const
{
    std::string out = "{\"file\": " + JsonString(name) + ", \"replaces\": " + JsonString(replaced_name) +
                      ", \"replaced\": " + JsonSound(replaced, true) + ", \"input\": " + JsonSound(input, false) +
                      ", \"output\": " + JsonSound(output, true) + ", \"level\": \"" + LevelId(level) +
                      "\", \"gain_db\": " + Fixed(gain_db, 1) + ", \"channels\": " + JsonString(channel_rule) +
                      ", \"bytes\": " + std::to_string(bytes) + ", \"notes\": [";
    for (std::size_t i = 0; i < notes.size(); ++i) {
        out += (i == 0 ? "{" : ", {");
        out += "\"kind\": \"" + std::string(NoteId(notes[i].kind)) + "\", \"text\": " + JsonString(notes[i].text);
        for (const auto& [key, value] : notes[i].values) {
            out += ", " + JsonString(key) + ": " + JsonNumber(value, value == std::floor(value) ? 0 : 2);
        }
        out += "}";
    }
    return out + "]}";
}

}  // namespace quorvel::audio

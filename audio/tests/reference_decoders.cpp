#include "audio/tests/reference_decoders.hpp"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/wait.h>

namespace quorvel::audio::testing {
namespace {

// The sound in a file of its own for the other program to read, removed
// when done.
class ScratchFile {
public:
    explicit ScratchFile(const std::vector<std::byte>& bytes)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-sound-XXXXXX").string();
        const int descriptor = mkstemp(pattern.data());
        if (descriptor < 0) {
            throw std::runtime_error("cannot make a scratch file in " + pattern);
        }
        close(descriptor);
        path_ = pattern;
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            throw std::runtime_error("cannot write " + path_);
        }
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// What `command` writes to its standard output; it must exit with 0.
std::vector<std::byte> Capture(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    std::vector<std::byte> output;
    std::array<std::byte, 65536> piece{};
    while (const std::size_t got = std::fread(piece.data(), 1, piece.size(), pipe)) {
        output.insert(output.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
    }
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(command + " failed");
    }
    return output;
}

template <typename Sample>
std::vector<Sample> SamplesOf(const std::vector<std::byte>& raw)
{
    std::vector<Sample> samples(raw.size() / sizeof(Sample));
    std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(Sample));
    return samples;
}

}  // namespace

bool HaveProgram(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::int16_t> SoxSamples16(const std::vector<std::byte>& sound)
{
    const ScratchFile file(sound);
    return SamplesOf<std::int16_t>(Capture("sox -D -V1 '" + file.path() + "' -t s16 -L - 2>/dev/null"));
}

std::vector<float> SoxSamplesFloat(const std::vector<std::byte>& sound)
{
    const ScratchFile file(sound);
    return SamplesOf<float>(Capture("sox -D -V1 '" + file.path() + "' -t f32 -L - 2>/dev/null"));
}

std::vector<std::int16_t> FfmpegG721Samples(const std::vector<std::byte>& sound)
{
    const ScratchFile file(sound);
    return SamplesOf<std::int16_t>(Capture("ffmpeg -nostdin -hide_banner -loglevel error -c:a adpcm_g726le -i '" +
                                           file.path() + "' -f s16le - 2>/dev/null"));
}

}  // namespace quorvel::audio::testing

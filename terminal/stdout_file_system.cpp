#include "terminal/stdout_file_system.hpp"

#include <string_view>

namespace quorvel {
namespace {

class StdoutOutput final : public OutputFile {
public:
    explicit StdoutOutput(StandardOutput& output) : output_(output) {}

    void Write(std::span<const std::byte> bytes) override
    {
        output_.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    void Close() override { output_.Flush(); }
    void Abandon() noexcept override {}

private:
    StandardOutput& output_;
};

}  // namespace

std::unique_ptr<OutputFile> StdoutFileSystem::CreateOutput(const std::string& /*path*/, IfTaken /*if_taken*/)
{
    return std::make_unique<StdoutOutput>(output_);
}

}  // namespace quorvel

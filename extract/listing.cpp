#include "extract/listing.hpp"

namespace quorvel {
namespace {

class SkippingOutput final : public OutputFile {
public:
    void Write(std::span<const std::byte> /*bytes*/) override {}
    std::uint64_t CopyFrom(InputFile& input, std::uint64_t length) override { return input.Skip(length); }
    void Close() override {}
};

// An archive that is read, never viewed: the listing skips whole blocks
// rather than look at them.
class UnviewedArchive final : public InputFile {
public:
    explicit UnviewedArchive(std::unique_ptr<InputFile> file) : file_(std::move(file)) {}

    std::uint64_t Size() override { return file_->Size(); }
    std::size_t Read(std::span<std::byte> buffer) override { return file_->Read(buffer); }
    std::uint64_t Skip(std::uint64_t length) override { return file_->Skip(length); }

private:
    std::unique_ptr<InputFile> file_;
};

// The archives of `files`, and outputs that go nowhere.
class ListingFileSystem final : public FileSystem {
public:
    explicit ListingFileSystem(FileSystem& files) : files_(files) {}

    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override
    {
        return std::make_unique<UnviewedArchive>(files_.OpenArchive(path));
    }
    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& /*path*/) override
    {
        return std::make_unique<SkippingOutput>();
    }
    void RemoveOutput(const std::string& /*path*/) noexcept override {}
    std::string Join(const std::string& folder, const std::string& file) const override
    {
        return files_.Join(folder, file);
    }

private:
    FileSystem& files_;
};

}  // namespace

void ListArchive(const ArchiveLocation& location, FileSystem& files, ExtractionListener& listener)
{
    ListingFileSystem listing(files);
    ExtractArchive(location, listing, listener);
}

}  // namespace quorvel

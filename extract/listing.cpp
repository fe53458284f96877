#include "extract/listing.hpp"

namespace quorvel {
namespace {

// The archives of `files`, and outputs that go nowhere.
class ListingFileSystem final : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;

    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& /*path*/, IfTaken /*if_taken*/) override
    {
        return std::make_unique<DiscardingOutput>();
    }
};

}  // namespace

void ListArchive(const ArchiveLocation& location, FileSystem& files, ExtractionListener& listener)
{
    ListingFileSystem listing(files);
    ExtractArchive(location, listing, listener);
}

void ListArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files, ExtractionListener& listener)
{
    ListingFileSystem listing(files);
    WalkArchive(location, archive, listing, listener);
}

}  // namespace quorvel

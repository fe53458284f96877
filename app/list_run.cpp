#include "app/list_run.hpp"

#include <memory>
#include <vector>

namespace quorvel {
namespace {

// The walk's checkpoints, where the report may stop it.
class StopWhenAsked final : public ExtractionListener {
public:
    explicit StopWhenAsked(ListingReport& report) : report_(report) {}
    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& /*truncation*/) override {}
    void Advance(std::uint64_t /*bytes*/) override {}
    void Checkpoint() override { report_.Checkpoint(); }

private:
    ListingReport& report_;
};

}  // namespace

RunEnd ListRun(FileSystem& files, const Places& places, bool with_speech, ListingReport& report, FileChoice* choice)
{
    bool truncated = false;
    try {
        const auto locations = ArchivesOfRun(files, places, with_speech);
        std::vector<std::unique_ptr<InputFile>> archives;
        for (const ArchiveLocation& location : locations) {
            archives.push_back(files.OpenArchive(location.archive_path));
        }
        StopWhenAsked progress(report);
        for (std::size_t i = 0; i < locations.size(); ++i) {
            // Listed and told one archive at a time: memory holds one listing.
            std::vector<ListedFile> listed;
            const ListedArchive archive = ListOneArchive(locations[i], *archives[i], files, i, listed, &progress);
            archives[i].reset();
            if (choice != nullptr) {
                std::erase_if(listed, [&](const ListedFile& file) {
                    return !choice->Chooses(archive.location.name, file.number, file.path);
                });
            }
            report.ArchiveListed(archive, listed);
            if (archive.truncation) {
                report.ReportWarning(archive.truncation->Describe());
                truncated = true;
            }
        }
    } catch (const ExtractError& error) {
        report.ReportError(error.failure());
        return RunEnd::kFailed;
    } catch (const Cancelled&) {
        return RunEnd::kCancelled;
    }
    return truncated ? RunEnd::kTruncated : RunEnd::kCompleted;
}

}  // namespace quorvel

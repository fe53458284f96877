#include "app/pack_run.hpp"

#include <vector>

namespace quorvel {

RunEnd PackRun(FileSystem& files, PackFileSystem& pack_files, const Places& places, PackMode mode,
               PackRunReport& report)
{
    std::vector<ArchiveLocation> archives;
    for (const ArchiveLocation& location : ArchivesOfRun(files, places, /*with_speech=*/true)) {
        if (pack_files.LookAt(location.archive_path) != PackFileSystem::Found::kNothing &&
            pack_files.IsFolder(location.output_folder)) {
            archives.push_back(location);
        }
    }
    if (archives.empty()) {
        report.NothingToPack(Locate(files, places, kSoundEffects), Locate(files, places, kSpeech));
        return RunEnd::kFailed;
    }
    report.Started();
    RunEnd end = RunEnd::kCompleted;
    for (const ArchiveLocation& archive : archives) {
        PackResult result;
        try {
            result = PackArchive(archive, files, pack_files, report, mode);
        } catch (const ExtractError& error) {
            report.NotPacked(archive, error.failure());
            end = RunEnd::kFailed;
            continue;
        } catch (const Cancelled&) {
            report.Stopped(archive);
            return RunEnd::kCancelled;
        }
        report.Packed(archive, result);
    }
    return end;
}

}  // namespace quorvel

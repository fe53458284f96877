#pragma once

#include <span>
#include <string_view>

#include "app/game_reader.hpp"
#include "app/places.hpp"
#include "app/run_end.hpp"
#include "extract/extract_error.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// How a listing tells whoever runs it what it found.
class ListingReport {
public:
    virtual ~ListingReport() = default;
    // One archive, listed: every file extraction would write, in order.
    virtual void ArchiveListed(const ListedArchive& archive, std::span<const ListedFile> files) = 0;
    virtual void ReportError(const Failure& failure) = 0;
    virtual void ReportWarning(std::string_view text) = 0;
    // Called after every block and 64 KiB chunk; throws Cancelled to stop
    // the listing, as every run is stopped.
    virtual void Checkpoint() {}
};

// Lists the archives of a run (sfx, then speech if asked for) as
// extraction walks them, writing nothing: a missing archive stops it before
// anything is listed, as it stops an extraction; a truncated one is told
// once it is listed. Failures of the report itself (ExtractError) end the
// run as failures of the listing do. With a `choice`, only the chosen files
// are told, and the totals count them alone.
RunEnd ListRun(FileSystem& files, const Places& places, bool with_speech, ListingReport& report,
               FileChoice* choice = nullptr);

}  // namespace quorvel

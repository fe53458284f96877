#pragma once

#include "app/places.hpp"
#include "app/run_end.hpp"
#include "extract/extract_error.hpp"
#include "extract/file_system.hpp"
#include "pack/pack.hpp"
#include "pack/pack_file_system.hpp"

namespace quorvel {

// How a pack run tells whoever runs it what became of each archive. The
// status and progress come through PackListener (whose Progress may stop
// the run: Cancelled).
class PackRunReport : public PackListener {
public:
    // Neither archive has both its .pak and its folder of extracted files.
    virtual void NothingToPack(const ArchiveLocation& sound_effects, const ArchiveLocation& speech) = 0;
    // Before the first archive is packed.
    virtual void Started() {}
    virtual void Packed(const ArchiveLocation& archive, const PackResult& result) = 0;
    // The archive was left as it was: refused by the pack's checks
    // (FailureKind::kRefused) or failed.
    virtual void NotPacked(const ArchiveLocation& archive, const Failure& failure) = 0;
    // Stopped by the user while packing this archive; it was left as it was.
    virtual void Stopped(const ArchiveLocation& archive) = 0;
};

// Packs every archive of the game that has both its .pak and its folder
// (sfx, then speech), each on its own: a refusal or failure of one leaves
// it as it was and goes on with the other. Completed when every archive was
// packed, failed when one was not (or none could be), cancelled when stopped.
// A failure of the report itself (it could not write what it was told)
// ends the run and reaches the caller.
RunEnd PackRun(FileSystem& files, PackFileSystem& pack_files, const Places& places, PackMode mode,
               PackRunReport& report);

}  // namespace quorvel

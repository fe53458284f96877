#pragma once

// The export (--export FORMAT): every chosen sound of the game, decoded and
// encoded in a format players take, written to
// export/{name}/{name}_{NNNN}[ {label}].{ext} in the output folder, apart
// from what extraction writes.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "app/places.hpp"
#include "app/run_end.hpp"
#include "audio/sound_export.hpp"
#include "extract/block_stream.hpp"
#include "extract/extract_error.hpp"
#include "extract/file_system.hpp"
#include "pack/pack.hpp"

namespace quorvel {

// The folder of the output folder that exports go to.
inline constexpr std::string_view kExportFolder = "export";

struct ExportRequest {
    // The game folder; the output folder, which export/ goes into (the game
    // folder when empty).
    Places places;
    audio::ExportFormat format = audio::ExportFormat::kFlac;
    // Every file when nothing; otherwise the chosen ones.
    FileChoice* choice = nullptr;
    // Listed path ("sfx/sfx_0012.wav") -> label; nothing: no labels.
    const std::map<std::string, std::string>* labels = nullptr;
};

// What one archive gave.
struct ExportTally {
    std::string archive;  // "sfx"
    std::string folder;   // where its exports went: "export/sfx"
    std::uint64_t exported = 0;
    std::uint64_t failed = 0;  // sounds that could not be decoded or encoded
    std::uint64_t left = 0;    // chosen files that are not sounds
};

// How an export tells whoever runs it what it does. One thread calls it, in order.
class ExportReport : public RunListener {
public:
    // The speech question (Yes is the default); returns true for Yes.
    virtual bool AskYesNo(std::string_view question) = 0;
    // Every archive of the run is there: the export begins.
    virtual void Started() {}
    // Progress (RunListener) is told after every block, 64 KiB chunk and
    // piece of a sound, in archive bytes; it throws Cancelled to stop the run.
    // A file was written whole: `path` as the user opens it.
    virtual void SoundExported(std::string_view /*path*/) {}
    // A sound could not be exported, in one line "FILE: DESCRIPTION"; the
    // run goes on with the others.
    virtual void SoundFailed(std::string_view line) = 0;
    virtual void ArchiveExported(const ExportTally& tally) = 0;
    // The failure that ended the run.
    virtual void ReportError(const Failure& failure) = 0;
    // Told once, after the work, when an archive turned out to be truncated.
    virtual void ReportWarning(std::string_view text) = 0;
};

// An exported file's tags: the sound's label as its title; its listed path
// and the hash of its stored bytes as the comment, so that an exported file
// can be traced back to its sound even after the game renumbers its files.
audio::ExportTags ExportTagsOf(const std::string& listed, const std::string& label, InputFile& stored);

// Asks the speech question, checks that every archive of the run is there,
// then walks each as extraction does and exports each chosen sound as the
// walk finishes it: memory holds one sound's pieces, never a listing. Each
// file is written as extraction writes its files (a name taken by an
// earlier export is replaced only once the new file is whole; a file being
// written when the run fails or is stopped is thrown away). A sound that
// cannot be exported is told and passed over; the run then ends failed,
// once the others are exported. Files that are not sounds are counted, not
// exported. A truncated archive is told at the end, as extraction tells it.
RunEnd ExportRun(FileSystem& files, const ExportRequest& request, ExportReport& report);

}  // namespace quorvel

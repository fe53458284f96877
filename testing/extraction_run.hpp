#pragma once

#include <map>
#include <optional>
#include <string>

#include "extract/block_stream.hpp"
#include "testing/archive_builder.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/recording_listener.hpp"

namespace quorvel::testing {

// One ExtractArchive("sfx") over an archive in memory, outputs as text.
struct ExtractionRun {
    std::map<std::string, std::string> files;
    std::optional<Truncation> truncation;
    RecordingListener listener;
    MemoryFileSystem file_system;
};

inline std::map<std::string, std::string> OutputsAsText(const MemoryFileSystem& file_system)
{
    std::map<std::string, std::string> files;
    for (const auto& [path, bytes] : file_system.Outputs()) {
        files[path] = std::string(AsText(bytes));
    }
    return files;
}

// How the archive reaches the core: reads of at most so many bytes, or
// views (the bytes where they lie, as a platform that maps files gives them)
// of so many bytes.
struct Serving {
    std::size_t read_limit = SIZE_MAX;
    std::size_t view_size = 0;

    static Serving Views(std::size_t bytes) { return {.read_limit = SIZE_MAX, .view_size = bytes}; }
};

inline void RunExtraction(ExtractionRun& run, const Archive& archive, Serving serving = {})
{
    run.file_system.AddArchive("sfx.pak", archive);
    run.file_system.LimitReadSize(serving.read_limit);
    if (serving.view_size != 0) {
        run.file_system.ServeViews(serving.view_size);
    }
    ExtractArchive("sfx", run.file_system, run.listener);
    run.truncation = run.listener.truncation;
    run.files = OutputsAsText(run.file_system);
}

}  // namespace quorvel::testing

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/places.hpp"
#include "app/run_end.hpp"
#include "app/user_interface.hpp"
#include "extract/block_stream.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// The main window's caption, also used for the program's message boxes.
inline constexpr std::string_view kWindowTitle = "Quorvel Extractor";

// The main window's run: the question, the window, the size survey and the
// extraction of the chosen archives, in that order, on one thread.
class Form1 : private ExtractionListener {
public:
    // `options` choose the files written and what becomes of taken names.
    Form1(UserInterface& ui, FileSystem& files, Places places = {}, ExtractionOptions options = {})
        : ui_(ui), files_(files), places_(std::move(places)), options_(options)
    {
    }

    RunEnd FormLoad();

    std::int64_t BytesDone() const { return bytes_done_; }
    std::int64_t BytesTotal() const { return bytes_total_; }

private:
    void Run();
    void ExtractWherePossible(const std::string& name);
    void AddArchiveSize(const std::string& name);
    ArchiveLocation Locate(const std::string& name) const;

    void StatusChanged(std::string_view text) override;
    void TruncationFound(const Truncation& truncation) override;
    void EntryFinished(const Entry& entry) override;
    void EntryKept(const Entry& entry) override;
    void Advance(std::uint64_t bytes) override;
    void Checkpoint() override;

    UserInterface& ui_;
    FileSystem& files_;
    Places places_;
    ExtractionOptions options_;
    UserInterface::ArchiveTally tally_;
    std::string output_folder_;  // of the archive being extracted
    std::int64_t bytes_done_ = 0;
    std::int64_t bytes_total_ = 0;
    BarHandle progress_bar_ = 0;
    std::vector<Truncation> truncations_;
};

}  // namespace quorvel

#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "extract/extraction_listener.hpp"

namespace quorvel {

// Prints what extraction would write, one line per file, then a summary of
// the archive: aligned columns for a person, tab-separated fields for a
// script, or JSON Lines.
class ListingPrinter final : public ExtractionListener {
public:
    enum class Style { kColumns, kTabs, kJson };

    ListingPrinter(std::FILE* output, Style style) : output_(output), style_(style) {}

    // Prints the lines of the archive listed since the last call, and its
    // summary: under its path for a person, its file name ("sfx.pak") in JSON.
    void FinishArchive(const std::string& archive_path, const std::string& archive_file);
    const std::optional<Truncation>& truncation() const { return truncation_; }

    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& truncation) override { truncation_ = truncation; }
    void Advance(std::uint64_t /*bytes*/) override {}
    void Checkpoint() override {}
    void EntryFinished(const Entry& entry) override { entries_.push_back(entry); }

private:
    void PrintRows(const std::vector<std::vector<std::string>>& rows);

    std::FILE* output_;
    Style style_;
    std::vector<Entry> entries_;
    std::optional<Truncation> truncation_;
};

}  // namespace quorvel

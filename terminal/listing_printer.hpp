#pragma once

#include <atomic>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "app/list_run.hpp"
#include "terminal/standard_output.hpp"

namespace quorvel {

// Prints what extraction would write, one line per file, then a summary of
// the archive: aligned columns for a person, tab-separated fields for a
// script, or JSON Lines. The listing goes to standard output, errors and
// warnings to `messages`.
class ListingPrinter final : public ListingReport {
public:
    enum class Style { kColumns, kTabs, kJson };

    ListingPrinter(StandardOutput& output, std::FILE* messages, Style style, const std::atomic<int>& stop_signal)
        : output_(output), messages_(messages), style_(style), stop_signal_(stop_signal)
    {
    }

    // Labels to show, by listed path: a last column, or in JSON a "label"
    // key on every file's record (null where there is none).
    void ShowLabels(const std::map<std::string, std::string>* labels) { labels_ = labels; }

    void ArchiveListed(const ListedArchive& archive, std::span<const ListedFile> files) override;
    void ReportError(const Failure& failure) override;
    void ReportWarning(std::string_view text) override;
    void Checkpoint() override
    {
        if (stop_signal_.load(std::memory_order_relaxed) != 0) {
            throw Cancelled();
        }
    }

private:
    void PrintRows(const std::vector<std::vector<std::string>>& rows);

    StandardOutput& output_;
    std::FILE* messages_;
    Style style_;
    const std::atomic<int>& stop_signal_;
    const std::map<std::string, std::string>* labels_ = nullptr;
};

}  // namespace quorvel

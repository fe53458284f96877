#include "terminal/listing_printer.hpp"

#include <algorithm>
#include <string_view>

#include "app/listing_records.hpp"
#include "terminal/messages.hpp"

namespace quorvel {
namespace {

std::vector<std::string> Row(const ListedFile& file)
{
    std::vector<std::string> row = {file.path, std::string(KindName(file.kind)), std::to_string(file.offset),
                                    std::to_string(file.size)};
    if (file.kind == EntryKind::kSound) {
        if (const auto& format = file.format) {
            row.insert(row.end(),
                       {std::to_string(format->channels) + " ch", std::to_string(format->sample_rate) + " Hz",
                        std::to_string(format->bits_per_sample) + " bit", SecondsText(format->seconds) + " s",
                        EncodingLabel(*format)});
        } else {
            row.emplace_back("-");
        }
    }
    return row;
}

std::string Summary(const ListedArchive& archive, const ListingTotals& totals)
{
    return archive.location.archive_path + ": " + std::to_string(totals.files) +
           (totals.files == 1 ? " file" : " files") + ", " + std::to_string(totals.bytes) + " bytes, " +
           std::to_string(totals.sounds) + (totals.sounds == 1 ? " sound" : " sounds") + ", " +
           SecondsText(totals.seconds) + " s\n";
}

// The columns a text takes on a terminal: one per character of its UTF-8
// ("µ-law" is 5), not one per byte.
std::size_t Width(std::string_view text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

void ListingPrinter::ArchiveListed(const ListedArchive& archive, std::span<const ListedFile> files)
{
    const ListingTotals totals = TotalsOf(files);
    const auto label_of = [this](const ListedFile& file) -> const std::string* {
        const auto found = labels_->find(file.path);
        return found == labels_->end() ? nullptr : &found->second;
    };
    if (style_ == Style::kJson) {
        for (const ListedFile& file : files) {
            output_.Write((labels_ != nullptr ? FileRecord(file, label_of(file)) : FileRecord(file)) + "\n");
        }
        output_.Write(ArchiveRecord(archive, totals) + "\n");
    } else {
        std::vector<std::vector<std::string>> rows;
        rows.reserve(files.size());
        for (const ListedFile& file : files) {
            rows.push_back(Row(file));
            if (labels_ != nullptr) {
                if (const std::string* label = label_of(file)) {
                    rows.back().push_back(*label);
                }
            }
        }
        PrintRows(rows);
        output_.Write(Summary(archive, totals));
    }
    output_.Flush();
}

void ListingPrinter::ReportError(const Failure& failure)
{
    PrintError(messages_, failure);
}

void ListingPrinter::ReportWarning(std::string_view text)
{
    PrintWarning(messages_, text);
}

void ListingPrinter::PrintRows(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    if (style_ == Style::kColumns) {
        for (const auto& row : rows) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t column = 0; column < row.size(); ++column) {
                widths[column] = std::max(widths[column], Width(row[column]));
            }
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            if (column > 0) {
                line += style_ == Style::kColumns ? "  " : "\t";
            }
            // Numbers line up on the right, words on the left.
            const bool number = column == 2 || column == 3;
            const std::size_t pad = widths.empty() ? 0 : widths[column] - Width(row[column]);
            const bool last = column + 1 == row.size();
            if (number) {
                line.append(pad, ' ');
            }
            line += row[column];
            if (!number && !last) {
                line.append(pad, ' ');
            }
        }
        line += '\n';
        output_.Write(line);
    }
}

}  // namespace quorvel

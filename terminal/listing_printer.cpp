#include "terminal/listing_printer.hpp"

#include <algorithm>
#include <string_view>

#include "extract/wav_format.hpp"

namespace quorvel {
namespace {

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

std::string JsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string JsonNumberOrNull(const std::optional<WavFormat>& format, std::uint32_t WavFormat::*field)
{
    return format ? std::to_string((*format).*field) : "null";
}

}  // namespace

void ListingPrinter::FinishArchive(const std::string& archive_path, const std::string& archive_file)
{
    std::uint64_t bytes = 0;
    std::uint64_t sounds = 0;
    double seconds = 0;
    std::vector<std::vector<std::string>> rows;
    for (const Entry& entry : entries_) {
        bytes += entry.size;
        std::optional<WavFormat> format;
        if (entry.kind == EntryKind::kSound) {
            ++sounds;
            format = ReadWavFormat(entry.head);
            seconds += format ? format->seconds : 0;
        }
        if (style_ == Style::kJson) {
            std::fprintf(output_,
                         "{\"path\": %s, \"kind\": \"%s\", \"offset\": %llu, \"size\": %llu, \"channels\": %s, "
                         "\"rate\": %s, \"bits\": %s, \"seconds\": %s}\n",
                         JsonString(entry.RelativePath()).c_str(), std::string(KindName(entry.kind)).c_str(),
                         static_cast<unsigned long long>(entry.offset), static_cast<unsigned long long>(entry.size),
                         JsonNumberOrNull(format, &WavFormat::channels).c_str(),
                         JsonNumberOrNull(format, &WavFormat::sample_rate).c_str(),
                         JsonNumberOrNull(format, &WavFormat::bits_per_sample).c_str(),
                         format ? Seconds(format->seconds).c_str() : "null");
            continue;
        }
        std::vector<std::string> row = {entry.RelativePath(), std::string(KindName(entry.kind)),
                                        std::to_string(entry.offset), std::to_string(entry.size)};
        if (entry.kind == EntryKind::kSound) {
            if (format) {
                row.insert(row.end(),
                           {std::to_string(format->channels) + " ch", std::to_string(format->sample_rate) + " Hz",
                            std::to_string(format->bits_per_sample) + " bit", Seconds(format->seconds) + " s"});
            } else {
                row.emplace_back("-");
            }
        }
        rows.push_back(std::move(row));
    }
    PrintRows(rows);
    if (style_ == Style::kJson) {
        std::string truncated = "null";
        if (truncation_) {
            truncated = "{\"offset\": " + std::to_string(truncation_->block_offset) +
                        ", \"missing\": " + std::to_string(truncation_->missing_bytes) + "}";
        }
        std::fprintf(output_,
                     "{\"archive\": %s, \"files\": %zu, \"bytes\": %llu, \"sounds\": %llu, \"seconds\": %s, "
                     "\"truncated\": %s}\n",
                     JsonString(archive_file).c_str(), entries_.size(), static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(sounds), Seconds(seconds).c_str(), truncated.c_str());
    } else {
        std::fprintf(output_, "%s: %zu file%s, %llu bytes, %llu sound%s, %s s\n", archive_path.c_str(),
                     entries_.size(), entries_.size() == 1 ? "" : "s", static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(sounds), sounds == 1 ? "" : "s", Seconds(seconds).c_str());
    }
    std::fflush(output_);
    entries_.clear();
}

void ListingPrinter::PrintRows(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    if (style_ == Style::kColumns) {
        for (const auto& row : rows) {
            widths.resize(std::max(widths.size(), row.size()));
            for (std::size_t column = 0; column < row.size(); ++column) {
                widths[column] = std::max(widths[column], row[column].size());
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
            const std::size_t pad = widths.empty() ? 0 : widths[column] - row[column].size();
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
        std::fputs(line.c_str(), output_);
    }
}

}  // namespace quorvel

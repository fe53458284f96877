#include "labels/label_book.hpp"

#include <vector>

namespace quorvel {

std::optional<std::string> LabelBook::Load(const GameReader& game)
{
    std::optional<std::string> text;
    try {
        text = ReadLabelsFile(files_, path_);
    } catch (const ExtractError& error) {
        return error.failure().OneLine();
    }
    if (text) {
        Attach(game, ParseLabels(*text).lines);
    }
    return std::nullopt;
}

void LabelBook::ListingChanged()
{
    const std::lock_guard lock(mutex_);
    hashes_.clear();
}

std::string LabelBook::HashOf(const GameReader& game, const ListedFile& file)
{
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = hashes_.find(file.path); found != hashes_.end()) {
            return found->second;
        }
    }
    std::string hash = ContentHash(game, file);
    const std::lock_guard lock(mutex_);
    hashes_[file.path] = hash;
    return hash;
}

std::map<std::string, std::string> LabelBook::Labels() const
{
    const std::lock_guard lock(mutex_);
    return labels_;
}

std::optional<std::string> LabelBook::LabelOf(const std::string& path) const
{
    const std::lock_guard lock(mutex_);
    const auto found = labels_.find(path);
    return found == labels_.end() ? std::nullopt : std::optional(found->second);
}

void LabelBook::Set(const GameReader& game, const std::string& path, const std::string& label)
{
    std::optional<std::string> before;
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = labels_.find(path); found != labels_.end()) {
            before = found->second;
        }
        if (label.empty()) {
            labels_.erase(path);
        } else {
            labels_[path] = label;
        }
    }
    try {
        Save(game);
    } catch (...) {
        // What is shown must be what the file holds.
        const std::lock_guard lock(mutex_);
        if (before) {
            labels_[path] = *before;
        } else {
            labels_.erase(path);
        }
        throw;
    }
}

LabelMatch LabelBook::Attach(const GameReader& game, const std::vector<LabelLine>& lines)
{
    std::vector<LabelTarget> targets;
    targets.reserve(game.Files().size());
    for (const ListedFile& file : game.Files()) {
        targets.push_back(LabelTarget{.path = file.path, .hash = HashOf(game, file)});
    }
    LabelMatch match = MatchLabels(lines, targets);
    const std::lock_guard lock(mutex_);
    for (const auto& [path, label] : match.labels) {
        labels_[path] = label;
    }
    return match;
}

void LabelBook::Save(const GameReader& game)
{
    const std::map<std::string, std::string> labels = Labels();
    std::vector<LabelLine> lines;
    for (const ListedFile& file : game.Files()) {
        if (const auto found = labels.find(file.path); found != labels.end()) {
            lines.push_back(LabelLine{.path = file.path, .hash = HashOf(game, file), .label = found->second});
        }
    }
    WriteLabelsFile(pack_files_, path_, FormatLabels(lines));
}

}  // namespace quorvel

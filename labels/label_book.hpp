#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "labels/label_store.hpp"

namespace quorvel {

// The labels of a game's listed files, kept in the labels file of the
// output folder: what the studio shows and changes. Hashes of the files'
// bytes are computed once per listing. Safe to use from several threads.
class LabelBook {
public:
    LabelBook(std::string file_path, FileSystem& files, PackFileSystem& pack_files)
        : path_(std::move(file_path)), files_(files), pack_files_(pack_files)
    {
    }

    const std::string& path() const { return path_; }

    // Reads the labels file and attaches its lines. A file that cannot be
    // read (a link or a FIFO in its place, one past the size limit) is left
    // as it is: the reason is returned, and the studio starts without it.
    std::optional<std::string> Load(const GameReader& game);
    // The listing changed (a pack made new archives): hashes are computed
    // afresh when next asked for.
    void ListingChanged();

    std::string HashOf(const GameReader& game, const ListedFile& file);
    std::map<std::string, std::string> Labels() const;
    std::optional<std::string> LabelOf(const std::string& path) const;

    // Sets a label (an empty one removes it) and saves the file; where the
    // file cannot be written, the label is left as it was and ExtractError
    // thrown. The label must be one LabelProblem accepts.
    void Set(const GameReader& game, const std::string& path, const std::string& label);
    // Attaches the labels of a list (by hash first, see MatchLabels); the
    // caller saves them.
    LabelMatch Attach(const GameReader& game, const std::vector<LabelLine>& lines);
    // Writes every label of a listed file. Throws ExtractError.
    void Save(const GameReader& game);

private:
    std::string path_;
    FileSystem& files_;
    PackFileSystem& pack_files_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> labels_;            // path -> label
    std::unordered_map<std::string, std::string> hashes_;  // path -> hash, of the current listing
};

}  // namespace quorvel

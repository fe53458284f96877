#pragma once

#include "app/game_reader.hpp"

namespace quorvel {

// A listed file's bytes as a file of their own, read straight from its
// archive: what decoding a stored sound reads from. The game must outlive
// it; it is safe to read from several threads where the game's Read is.
class ListedFileInput final : public InputFile {
public:
    ListedFileInput(const GameReader& game, const ListedFile& file) : game_(game), file_(file) {}

    std::uint64_t Size() override { return file_.size; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        return game_.Read(file_, offset, buffer);
    }

private:
    const GameReader& game_;
    const ListedFile& file_;
};

}  // namespace quorvel

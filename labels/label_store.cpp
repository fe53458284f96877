#include "labels/label_store.hpp"

#include <algorithm>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quorvel {
namespace {

constexpr std::size_t kPiece = 1 << 16;

std::string ReadWhole(InputFile& file, const std::string& path)
{
    const std::uint64_t size = file.Size();
    if (size > kLargestLabelsFile) {
        throw ExtractError(Failure{.kind = FailureKind::kRefused,
                                   .description = "is larger than " + std::to_string(kLargestLabelsFile) +
                                                  " bytes, more than any list of labels needs",
                                   .file = path});
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const std::size_t count = file.ReadAt(got, std::as_writable_bytes(std::span(text)).subspan(got));
        if (count == 0) {
            text.resize(got);  // it shrank meanwhile: what is there is read
            break;
        }
        got += count;
    }
    return text;
}

}  // namespace

std::string LabelsFilePath(const FileSystem& files, const std::string& output_folder)
{
    return output_folder.empty() ? std::string(kLabelsFileName)
                                 : files.Join(output_folder, std::string(kLabelsFileName));
}

std::optional<std::string> ReadLabelsFile(FileSystem& files, const std::string& path)
{
    const auto file = files.OpenRegularFile(path);
    if (!file) {
        return std::nullopt;
    }
    return ReadWhole(*file, path);
}

std::string ReadSharedList(FileSystem& files, const std::string& path)
{
    return ReadWhole(*files.OpenArchive(path), path);
}

void WriteLabelsFile(PackFileSystem& pack_files, const std::string& path, std::string_view text)
{
    PackFileSystem::Temporary temporary = pack_files.MakeTemporaryBeside(path);
    try {
        temporary.file->Write(std::as_bytes(std::span(text)));
        temporary.file->Close();
        pack_files.ReplaceWith(temporary.path, path);
    } catch (...) {
        temporary.file->Abandon();
        pack_files.RemoveTemporary(temporary.path);
        throw;
    }
}

std::string ContentHash(InputFile& file)
{
    XXH64_state_t state;
    XXH64_reset(&state, 0);
    std::vector<std::byte> piece(kPiece);
    for (std::uint64_t at = 0;;) {
        const std::size_t got = file.ReadAt(at, piece);
        if (got == 0) {
            break;
        }
        XXH64_update(&state, piece.data(), got);
        at += got;
    }
    return HashText(XXH64_digest(&state));
}

std::string ContentHash(const GameReader& game, const ListedFile& file)
{
    XXH64_state_t state;
    XXH64_reset(&state, 0);
    std::vector<std::byte> piece(kPiece);
    for (std::uint64_t at = 0; at < file.size;) {
        const std::size_t got = game.Read(file, at, piece);
        XXH64_update(&state, piece.data(), got);
        at += got;
    }
    return HashText(XXH64_digest(&state));
}

LabelMatch MatchList(const GameReader& game, std::string_view list)
{
    std::vector<LabelTarget> targets;
    targets.reserve(game.Files().size());
    for (const ListedFile& file : game.Files()) {
        targets.push_back(LabelTarget{.path = file.path, .hash = ContentHash(game, file)});
    }
    return MatchLabels(ParseLabels(list).lines, targets);
}

}  // namespace quorvel

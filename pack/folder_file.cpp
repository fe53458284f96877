#include "pack/folder_file.hpp"

#include "pack/pack_refused.hpp"

namespace quorvel {

std::unique_ptr<InputFile> OpenFolderFile(FileSystem& files, const std::string& path)
{
    std::unique_ptr<InputFile> file;
    try {
        file = files.OpenRegularFile(path);
    } catch (const ExtractError& error) {
        if (error.failure().kind != FailureKind::kNotAFile) {
            throw;
        }
        throw PackRefused(path, error.failure().description +
                                    "; the pack takes only regular files: put the file "
                                    "itself there");
    }
    if (!file) {
        throw PackRefused(path,
                          "is missing from the folder; every file extraction makes is needed to rebuild the "
                          "archive");
    }
    return file;
}

}  // namespace quorvel

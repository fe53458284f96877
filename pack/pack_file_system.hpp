#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel {

// The file services that replacing an archive needs beyond those of the
// extraction. Every step keeps the archive whole: the new one is made
// beside it under another name and only takes the archive's name, in one
// rename, once it is complete on disk. Paths are as FileSystem takes them.
class PackFileSystem {
public:
    virtual ~PackFileSystem() = default;

    // The names of everything in `folder` (files or not), in no order.
    // Throws ExtractError when the folder cannot be read.
    virtual std::vector<std::string> ListFolder(const std::string& folder) = 0;
    virtual bool IsFolder(const std::string& path) = 0;

    // A new, empty file beside `path` under a name no other file has
    // (never replacing one), open for writing. Throws ExtractError.
    struct Temporary {
        std::string path;
        std::unique_ptr<OutputFile> file;
    };
    virtual Temporary MakeTemporaryBeside(const std::string& path) = 0;
    // Starts writing `length` bytes of a file from `offset` on (all of it
    // for a length of 0) to the disk, waiting for no more than their
    // submission, so that the disk works while the rest is written and the
    // new archive is checked. Failures are left to FlushToDisk.
    virtual void StartFlush(const std::string& /*path*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
    // Makes sure the bytes of a closed file are on the disk, not only in
    // the system's cache, so that a crash after the rename cannot leave an
    // empty archive behind.
    virtual void FlushToDisk(const std::string& path) = 0;
    // What has the name `path`, seen without following a link.
    enum class Found { kNothing, kFileWithBytes, kEmptyFile, kFolder, kLink, kOther };
    virtual Found LookAt(const std::string& path) = 0;
    // Makes `backup` a hard link to `path`, or a copy where links cannot be
    // made (a copy only takes the name once it is whole), so that `path`
    // itself never goes missing. Never replaces anything: returns false when
    // something has the name `backup` already.
    virtual bool MakeBackup(const std::string& path, const std::string& backup) = 0;
    // Gives `temporary` the permissions of `path` (where that is a regular
    // file), then renames it over whatever has the name `path` (never
    // through it), in one step, and makes the rename durable.
    virtual void ReplaceWith(const std::string& temporary, const std::string& path) = 0;
    // Removes a temporary file; failures are ignored, because it only runs
    // while another failure (or a stop) is being reported.
    virtual void RemoveTemporary(const std::string& path) noexcept = 0;
};

// The platform's own, from the platform library linked in
// (platform/posix_pack_file_system.cpp or win32_pack_file_system.cpp).
std::unique_ptr<PackFileSystem> MakePlatformPackFileSystem();

}  // namespace quorvel

#pragma once

#include <string>
#include <utility>

#include "extract/file_system.hpp"

namespace quorvel {

// Files on Windows. Paths are UTF-8 and joined with "\". Archives and
// outputs are opened with only reading shared, so no other program writes
// them while the extraction runs; outputs are never written through a link
// (reparse point) or into a file with other hard links.
class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<InputFile> OpenArchive(const std::string& path) override;
    std::unique_ptr<InputFile> OpenRegularFile(const std::string& path) override;
    std::optional<Failure> MakeFolder(const std::string& path) override;
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override;
    std::string Join(const std::string& folder, const std::string& file) const override;

private:
    static std::unique_ptr<OutputFile> ReplaceOutput(const std::string& path);
};

// An output for a new file already open on `handle` (a HANDLE), which it
// closes; Abandon removes `path`.
std::unique_ptr<OutputFile> AdoptOutput(void* handle, std::string path);

// A path's folder ("." for a bare name; "C:\\" for a name in a drive's
// root) and name; either separator counts.
std::pair<std::string, std::string> SplitPath(const std::string& path);

// Text for a Windows error number, without the trailing line break
// ("The system cannot find the file specified.").
std::string DescribeWindowsError(unsigned long number);

// The UTF-16 form of a UTF-8 string, as the wide Windows functions take it.
std::wstring WidenUtf8(const std::string& text);
std::string NarrowToUtf8(const std::wstring& text);

}  // namespace quorvel

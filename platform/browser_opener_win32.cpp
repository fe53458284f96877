#include "platform/browser_opener.hpp"

// clang-format off
#include "platform/windows_headers.hpp"
#include <shellapi.h>
// clang-format on

#include "platform/win32_file_system.hpp"
#include "platform/win32_handle.hpp"

namespace quorvel {
namespace {

// The page goes into the user's own temporary folder, which other users
// cannot read, and is removed with the opener.
class Win32BrowserOpener final : public BrowserOpener {
public:
    ~Win32BrowserOpener() override
    {
        if (!page_.empty()) {
            ::DeleteFileW(page_.c_str());
        }
    }

    std::optional<std::string> Open(const std::string& address) override
    {
        wchar_t folder[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
        if (length == 0 || length > MAX_PATH) {
            return "no temporary folder for the page that opens the studio: " + DescribeWindowsError(::GetLastError());
        }
        const std::string text = PageThatOpens(address);
        for (int attempt = 0; attempt < 100 && page_.empty(); ++attempt) {
            const std::wstring path = std::wstring(folder) + L"quorvel-studio-" +
                                      std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) +
                                      L".html";
            FileHandle file(
                ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.valid()) {
                if (::GetLastError() == ERROR_FILE_EXISTS) {
                    continue;
                }
                return NarrowToUtf8(path) + ": " + DescribeWindowsError(::GetLastError());
            }
            page_ = path;
            DWORD written = 0;
            if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                written != text.size()) {
                return NarrowToUtf8(path) + ": " + DescribeWindowsError(::GetLastError());
            }
        }
        if (page_.empty()) {
            return "no free name for the page that opens the studio";
        }
        const auto result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(nullptr, L"open", page_.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        // ShellExecute reports success as a value above 32.
        if (result <= 32) {
            return "ShellExecute failed with " + std::to_string(result);
        }
        return std::nullopt;
    }

private:
    std::wstring page_;
};

}  // namespace

std::unique_ptr<BrowserOpener> MakePlatformBrowserOpener()
{
    return std::make_unique<Win32BrowserOpener>();
}

}  // namespace quorvel

#include "windows/folder_picker.hpp"

// shobjidl.h needs what windows.h declares.
// clang-format off
#include <objbase.h>
#include <shobjidl.h>
// clang-format on

#include <memory>

#include "platform/win32_file_system.hpp"

namespace quorvel {
namespace {

// COM for this thread, for as long as one picker is up. S_FALSE (already
// initialised) must be balanced too; another threading model already set
// on the thread still lets the picker work, but is not ours to undo.
class ComApartment {
public:
    ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename Interface>
using ComPtr = std::unique_ptr<Interface, Releaser>;

struct TaskMemFreer {
    void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};

// The picker, set up to choose one folder of the file system.
ComPtr<IFileDialog> CreateFolderDialog(const std::string& title)
{
    IFileDialog* created = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created)))) {
        return nullptr;  // no display, or no shell: there is nothing to ask with
    }
    ComPtr<IFileDialog> dialog(created);
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options)) ||
        FAILED(dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST)) ||
        FAILED(dialog->SetTitle(WidenUtf8(title).c_str()))) {
        return nullptr;
    }
    return dialog;
}

std::optional<std::string> ChosenPath(IFileDialog& dialog)
{
    IShellItem* chosen = nullptr;
    if (FAILED(dialog.GetResult(&chosen))) {
        return std::nullopt;
    }
    const ComPtr<IShellItem> item(chosen);
    wchar_t* path = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        return std::nullopt;
    }
    const std::unique_ptr<wchar_t, TaskMemFreer> owned(path);
    return NarrowToUtf8(owned.get());
}

}  // namespace

std::optional<std::string> PickFolder(HWND owner, const std::string& title)
{
    const ComApartment com;
    if (!com.usable()) {
        return std::nullopt;
    }
    const ComPtr<IFileDialog> dialog = CreateFolderDialog(title);
    // Show fails with ERROR_CANCELLED on Cancel, like any failure to ask.
    if (dialog == nullptr || FAILED(dialog->Show(owner))) {
        return std::nullopt;
    }
    return ChosenPath(*dialog);
}

}  // namespace quorvel

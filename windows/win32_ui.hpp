#pragma once

#include "platform/windows_headers.hpp"

#include <optional>
#include <string>

#include "app/user_interface.hpp"

namespace quorvel {

// True when `folder` (empty: the current one) holds the file sfx.pak.
bool HoldsGame(const std::string& folder);

// The main window Form1 on user32 and the common controls: created hidden,
// so that the question comes first, then shown with its status label and
// the progress bar. The run happens on this thread; the window lives on
// the messages processed at every checkpoint.
class Win32Ui final : public UserInterface {
public:
    explicit Win32Ui(HINSTANCE instance);
    ~Win32Ui() override;
    Win32Ui(const Win32Ui&) = delete;
    Win32Ui& operator=(const Win32Ui&) = delete;

    bool AskYesNo(std::string_view question, std::string_view caption) override;
    void ShowWindow(std::string_view title) override;
    void SetStatusText(std::string_view text) override;
    BarHandle CreateProgressBar(int x, int y, int width, int height) override;
    void SetBarPosition(BarHandle bar, int position) override;
    void SetBarText(BarHandle bar, std::string_view text) override;
    bool ProcessPendingMessages() override;
    void Unload() override;
    void ReportError(const Failure& failure) override;
    void ReportWarning(std::string_view text) override;
    std::optional<std::string> ChooseOutputFolder(const Failure& failure) override;

    // Asks with the folder picker until the user chooses a folder holding
    // sfx.pak, or cancels (nothing).
    std::optional<std::string> ChooseGameFolder();

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void CreateForm();

    HINSTANCE instance_;
    HWND form_ = nullptr;
    HWND label_ = nullptr;
    bool close_requested_ = false;
    bool output_folder_chosen_ = false;
};

}  // namespace quorvel

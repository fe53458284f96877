#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "app/user_interface.hpp"

namespace quorvel {

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

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void CreateForm();

    HINSTANCE instance_;
    HWND form_ = nullptr;
    HWND label_ = nullptr;
    bool close_requested_ = false;
};

}  // namespace quorvel

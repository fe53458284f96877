// quorvel-extractor.exe: run in the game's folder (or shown it with a folder
// picker), it unpacks sfx.pak (and, on Yes, speech.pak) into the folders sfx
// and speech, showing its progress in a small window that closes by itself
// at the end.

#include <string>
#include <utility>

#include "app/form1.hpp"
#include "platform/win32_file_system.hpp"
#include "windows/win32_ui.hpp"

namespace {

// What the caller (a script, a test) can tell from the exit code.
constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitClosedByUser = 2;
constexpr int kExitTruncated = 3;

int ExitCode(quorvel::RunEnd end)
{
    switch (end) {
        case quorvel::RunEnd::kCompleted:
            return kExitCompleted;
        case quorvel::RunEnd::kTruncated:
            return kExitTruncated;
        case quorvel::RunEnd::kFailed:
            return kExitFailed;
        case quorvel::RunEnd::kCancelled:
            return kExitClosedByUser;
    }
    return kExitFailed;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int /*show*/)
{
    try {
        quorvel::Win32FileSystem files;
        quorvel::Win32Ui ui(instance);
        quorvel::Places places;
        if (!quorvel::HoldsGame({})) {
            // Started elsewhere (downloaded and double-clicked, say): the user
            // shows where the game is. Cancel leaves the current folder, where
            // the run fails on the missing sfx.pak as it always has.
            places.game_folder = ui.ChooseGameFolder().value_or(std::string());
        }
        return ExitCode(quorvel::Form1(ui, files, std::move(places)).FormLoad());
    } catch (const quorvel::ExtractError& error) {
        // Only the main window's creation fails outside the run.
        ::MessageBoxW(nullptr, quorvel::WidenUtf8(error.failure().Describe()).c_str(),
                      quorvel::WidenUtf8(std::string(quorvel::kWindowTitle)).c_str(), MB_OK | MB_ICONERROR);
        return kExitFailed;
    }
}

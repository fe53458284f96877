#pragma once

#include "platform/windows_headers.hpp"

#include <optional>
#include <string>

namespace quorvel {

// Asks for a folder with the system's folder picker (IFileDialog with
// FOS_PICKFOLDERS), modal to `owner` when there is one, under `title`.
// Returns the folder as a UTF-8 Windows path, or nothing when the user
// cancels or the picker cannot be shown at all: either way the caller goes
// on without a folder, as if it had never asked. The folder may not exist
// (a name typed into the picker): callers check what they need of it.
std::optional<std::string> PickFolder(HWND owner, const std::string& title);

}  // namespace quorvel

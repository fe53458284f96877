#pragma once

#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// Opens a page of the studio in the user's own browser. The page's address
// holds the studio's secret token, and the arguments of the programs it
// starts (the opener, the browser) can be read by every user of the
// machine: so the browser is sent to a file that only the user can read,
// which takes it on to the address; the file is removed with the opener.
class BrowserOpener {
public:
    virtual ~BrowserOpener() = default;
    // Returns why no browser could be opened, or nothing.
    virtual std::optional<std::string> Open(const std::string& address) = 0;
};

// The platform's own: xdg-open (open on macOS) of a file in
// $XDG_RUNTIME_DIR or a private folder; the shell on Windows.
std::unique_ptr<BrowserOpener> MakePlatformBrowserOpener();

// The page in that file: it goes on to `address` at once, and offers a link
// where the browser does not follow a refresh.
std::string PageThatOpens(const std::string& address);

}  // namespace quorvel

#include "platform/browser_opener.hpp"

namespace quorvel {

std::string PageThatOpens(const std::string& address)
{
    // The address is the studio's own (digits, hex and ASCII): nothing in it
    // needs escaping in an attribute, but quotes are refused all the same.
    std::string safe;
    for (const char c : address) {
        safe += c == '"' || c == '<' || c == '>' || c == '&' ? '_' : c;
    }
    return "<!doctype html>\n<meta charset=\"utf-8\">\n<meta name=\"referrer\" content=\"no-referrer\">\n"
           "<meta http-equiv=\"refresh\" content=\"0;url=" +
           safe + "\">\n<title>Quorvel Studio</title>\n<p><a href=\"" + safe + "\">Open the studio</a></p>\n";
}

}  // namespace quorvel

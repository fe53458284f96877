#include "terminal/studio_command.hpp"

#include <filesystem>

#include "labels/label_store.hpp"
#include "studio/http_server.hpp"
#include "studio/random_token.hpp"
#include "studio/studio.hpp"
#include "terminal/messages.hpp"

namespace quorvel {
namespace {

constexpr int kExitFailed = 1;
constexpr int kStoppedByQuit = 130;  // as Ctrl-C: SIGINT's status

// The output folder as the page names it: where to find the files.
std::string Shown(const std::string& folder)
{
    std::error_code ignored;
    const auto absolute = std::filesystem::absolute(folder.empty() ? "." : folder, ignored).lexically_normal();
    const std::u8string text = absolute.u8string();
    std::string shown(text.begin(), text.end());
    if (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\')) {
        shown.pop_back();
    }
    return shown;
}

}  // namespace

int RunStudio(const StudioCommand& command, GameFolder& game, BrowserOpener& opener,
              const std::atomic<int>& stop_signal, std::FILE* messages)
{
    studio::StudioOptions options;
    try {
        options.token = studio::MakeToken();
        if (command.labels_file) {
            options.shared_labels = ReadSharedList(game.files(), *command.labels_file);
        }
    } catch (const ExtractError& error) {
        PrintError(messages, error.failure());
        return kExitFailed;
    } catch (const std::runtime_error& error) {
        PrintMessage(messages, error.what());
        return kExitFailed;
    }
    options.output_folder_shown = Shown(game.OutputFolder());
    studio::Studio studio(game, std::move(options));
    std::optional<studio::HttpServer> server;
    try {
        studio.Start();
        server.emplace(studio, command.port);
    } catch (const ExtractError& error) {
        PrintMessage(messages, "the studio cannot start: " + error.failure().OneLine());
        // A missing sfx.pak most often means the wrong folder, as for the other runs.
        if (!HoldsGame(game.files(), game.pack_files(), command.places)) {
            std::fprintf(messages, "%s\n", std::string(kNoGameHint).c_str());
        }
        return kExitFailed;
    } catch (const std::exception& error) {
        PrintMessage(messages, std::string("the studio cannot start: ") + error.what());
        return kExitFailed;
    }
    studio.SetPort(server->port());
    const std::string address =
        "http://127.0.0.1:" + std::to_string(server->port()) + "/?token=" + std::string(studio.token());
    if (!studio.start_warning().empty()) {
        PrintWarning(messages, studio.start_warning());
    }
    std::fprintf(messages, "Studio: %s\n", address.c_str());
    std::fflush(messages);
    if (command.open_browser) {
        if (const auto problem = opener.Open(address)) {
            PrintWarning(messages, "no browser was opened (" + *problem + "); open the address above");
        }
    }
    server->Run([&] {
        if (stop_signal.load() != 0) {
            studio.RequestStop();
        }
        return studio.Finished();
    });
    if (!studio.StoppedARun()) {
        return 0;
    }
    return stop_signal.load() != 0 ? 128 + stop_signal.load() : kStoppedByQuit;
}

}  // namespace quorvel

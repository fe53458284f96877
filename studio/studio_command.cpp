#include "studio/studio_command.hpp"

#include <filesystem>

#include "studio/core_backend.hpp"
#include "studio/http_server.hpp"
#include "studio/random_token.hpp"
#include "studio/studio.hpp"
#include "studio/text_file.hpp"

namespace quorvel::studio {
namespace {

constexpr int kExitFailed = 1;
constexpr int kStoppedByQuit = 130;  // as Ctrl-C: SIGINT's status
constexpr std::uintmax_t kLargestSharedList = 64 << 20;

int Fail(std::FILE* messages, const std::string& why)
{
    std::fprintf(messages, "quorvel-extractor: %s\n", why.c_str());
    return kExitFailed;
}

}  // namespace

int RunStudio(const StudioCommand& command, FileSystem& files, PackFileSystem& pack_files,
              const std::atomic<int>& stop_signal, std::FILE* messages)
{
    StudioOptions options;
    try {
        options.token = MakeToken();
        if (command.labels_file) {
            options.shared_labels = ReadTextFile(PathFromUtf8(*command.labels_file), kLargestSharedList);
            if (!options.shared_labels) {
                return Fail(messages, *command.labels_file + ": No such file");
            }
        }
    } catch (const std::runtime_error& error) {
        return Fail(messages, error.what());
    }
    const auto backend = MakeCoreBackend(
        CorePlaces{.game_folder = command.game_folder, .output_folder = command.output_folder}, files, pack_files);
    Studio studio(*backend, std::move(options));
    std::optional<HttpServer> server;
    try {
        studio.Start();
        server.emplace(studio, command.port);
    } catch (const std::exception& error) {
        Fail(messages, std::string("the studio cannot start: ") + error.what());
        // A missing sfx.pak most often means the wrong folder, as for the other runs.
        const std::string sfx = command.game_folder.empty() ? "sfx.pak" : command.game_folder + "/sfx.pak";
        std::error_code ignored;
        if (!std::filesystem::exists(PathFromUtf8(sfx), ignored)) {
            std::fputs("Run it in the game's folder (the one with sfx.pak), or give that folder with -C DIR.\n",
                       messages);
        }
        return kExitFailed;
    }
    studio.SetPort(server->port());
    const std::string address =
        "http://127.0.0.1:" + std::to_string(server->port()) + "/?token=" + std::string(studio.token());
    if (!studio.start_warning().empty()) {
        std::fprintf(messages, "quorvel-extractor: warning: %s\n", studio.start_warning().c_str());
    }
    std::fprintf(messages, "Studio: %s\n", address.c_str());
    std::fflush(messages);
    if (command.open_browser) {
        if (const auto problem = OpenInBrowser(address)) {
            std::fprintf(messages, "quorvel-extractor: warning: no browser was opened (%s); open the address above\n",
                         problem->c_str());
            std::fflush(messages);
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

}  // namespace quorvel::studio

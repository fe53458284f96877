#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/game_reader.hpp"
#include "studio/http_types.hpp"
#include "studio/request_policy.hpp"

namespace quorvel::studio {

// A request that reached its route, with what the route was found by.
struct RouteRequest {
    const RequestHead& head;
    const Target& target;
    // For a route over a listed file: the file, of `game`'s listing.
    const ListedFile* file = nullptr;
    std::shared_ptr<const GameReader> game;
    std::string body;
    std::unique_ptr<UploadFile> upload;
};
// Answers through `reply`, at once or when a run ends.
using RouteHandler = std::function<void(RouteRequest& request, Reply reply)>;

// One route of the studio's interface, and everything that is known of it
// before its body arrives.
struct Route {
    std::string_view method;  // "GET" or "POST"
    // "/api/entries"; or, for a route over a listed file, the prefix the
    // file's listed path follows ("/api/file/").
    std::string_view path;
    bool of_a_file = false;
    std::uint64_t body_limit = 0;
    // The body goes to a new file for a sound (a swap), not into memory.
    bool takes_upload = false;
    RouteHandler handle;
};

// The studio's routes, read both when a request's head arrives (its limit
// and its upload) and when it is handled.
class RouteTable {
public:
    void Add(Route route) { routes_.push_back(std::move(route)); }

    struct Found {
        const Route* route = nullptr;
        std::optional<std::string> file_path;  // for a route over a file: the listed path asked for
    };
    // The route for a method and path, if any; a path that names no file a
    // listing can have finds a route over a file with no path.
    std::optional<Found> Find(std::string_view method, std::string_view path) const;

private:
    std::vector<Route> routes_;
};

}  // namespace quorvel::studio

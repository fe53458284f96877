#include "studio/routes.hpp"

namespace quorvel::studio {

std::optional<RouteTable::Found> RouteTable::Find(std::string_view method, std::string_view path) const
{
    for (const Route& route : routes_) {
        if (route.method != method) {
            continue;
        }
        if (!route.of_a_file && path == route.path) {
            return Found{.route = &route, .file_path = std::nullopt};
        }
        if (route.of_a_file && path.starts_with(route.path)) {
            return Found{.route = &route, .file_path = ListedPath(path, route.path)};
        }
    }
    return std::nullopt;
}

}  // namespace quorvel::studio

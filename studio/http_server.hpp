#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "studio/http_types.hpp"

namespace quorvel::studio {

struct ServerLimits {
    std::uint32_t header_bytes = 16 << 10;  // request line and headers together: past it, 431
    // Connections that showed the token (the handler trusted a request on
    // them), served at once: past it, 503.
    std::size_t connections = 64;
    // Connections that have not shown the token yet. They cannot take the
    // slots above: past this many, the oldest of them is closed.
    std::size_t strangers = 64;
    // A connection whose first request has not arrived whole and been
    // trusted within this long is closed.
    std::chrono::milliseconds first_request{5000};
    // With no byte read for this long while a request arrives, or none
    // written of an answer, a connection is closed.
    std::chrono::milliseconds idle{30000};
};

// The HTTP server: loopback only (127.0.0.1, and ::1 on the same port where
// the system has it), HTTP/1.1 with keep-alive, every answer with the
// headers that keep a page of another site from reading or framing it. It
// knows no route: each request goes to the handler, whose bodies it streams
// both ways in 64 KiB pieces. A connection is a stranger until the handler
// trusts one of its requests: strangers have a few seconds and slots of
// their own, so that connections that never show the token cannot lock the
// user out. Everything of Boost.Beast and Boost.Asio is
// inside http_server.cpp, compiled once.
class HttpServer {
public:
    // Binds the port (0: a free one). Throws std::runtime_error naming the
    // port when it cannot (in use, say).
    HttpServer(RequestHandler& handler, std::uint16_t port, ServerLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const;
    // Serves on this thread until `should_end` says so; it is asked every
    // 50 ms, on this thread.
    void Run(const std::function<bool()>& should_end);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The headers every answer carries (also used by the tests).
inline constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; media-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

}  // namespace quorvel::studio

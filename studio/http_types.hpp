#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "studio/byte_source.hpp"

namespace quorvel::studio {

// Where a large request body goes as it arrives, instead of into memory:
// a new file for a sound. Dropped unfinished (the client went away), it is
// removed.
class UploadFile {
public:
    virtual ~UploadFile() = default;
    // Throws std::runtime_error when the bytes cannot be written (a full disk).
    virtual void Write(std::span<const std::byte> bytes) = 0;
    // Closes it for good, checking that every byte made it.
    virtual void Finish() = 0;
};

// A request as the studio's routes see it, whatever carried it.
struct RequestHead {
    std::string method;  // "GET"
    std::string target;  // "/api/file/sfx/sfx_0001.wav?token=..."
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> range;
};

struct Response {
    int status = 200;
    std::string content_type = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;  // beyond those every answer has
    std::string body;
    // A body too large to hold: streamed from here, `stream_length` bytes.
    std::unique_ptr<ByteSource> stream;
    std::uint64_t stream_length = 0;
    // Called once the whole answer has been written to the client.
    std::function<void()> after_sent;
};

// Takes the answer to a request; may be called on any thread, once.
using Reply = std::function<void(Response)>;

// What to do with a request, decided from its head alone.
struct Admission {
    // The request showed the token: its connection is one of the user's.
    bool trusted = false;
    std::optional<Response> answer;  // refused (or answered) before any body is read
    std::uint64_t body_limit = 0;    // past it: 413
    // The body goes here as it arrives, not into memory; dropped unfinished
    // (the client went away), it is removed.
    std::unique_ptr<UploadFile> upload;
};

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    virtual Admission Admit(const RequestHead& head) = 0;
    // The whole body has arrived (into `body`, or into the admission's upload).
    virtual void Handle(const RequestHead& head, std::string body, std::unique_ptr<UploadFile> upload, Reply reply) = 0;
};

Response TextResponse(int status, std::string text);
Response JsonResponse(int status, std::string json);

}  // namespace quorvel::studio

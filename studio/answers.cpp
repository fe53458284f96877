#include "studio/answers.hpp"

namespace quorvel::studio {
namespace {

using nlohmann::json;

// {"paths": ["sfx/sfx_0001.wav"]} is two levels deep.
constexpr int kDeepestRequest = 4;

// Nesting outside strings, counted before parsing so that nothing deeper
// is ever built, printed or destroyed.
bool NestedWithin(std::string_view text, int deepest)
{
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

Response BodyResponse(int status, std::string content_type, std::string body)
{
    Response response;
    response.status = status;
    response.content_type = std::move(content_type);
    response.body = std::move(body);
    return response;
}

}  // namespace

Response TextResponse(int status, std::string text)
{
    return BodyResponse(status, "text/plain; charset=utf-8", std::move(text));
}

Response JsonResponse(int status, std::string json_text)
{
    return BodyResponse(status, "application/json", std::move(json_text));
}

std::string Dump(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

Response Refusal(int status, std::string_view why)
{
    return JsonResponse(status, Dump(json{{"error", why}}));
}

int StatusOf(const Failure& failure)
{
    switch (failure.kind) {
        case FailureKind::kRefused:
        case FailureKind::kNotAFile:
            return 422;
        case FailureKind::kChanged:
        case FailureKind::kEndedEarly:
            return 409;
        case FailureKind::kSystem:
            break;
    }
    return 500;
}

Response FailureAnswer(const Failure& failure)
{
    return Refusal(StatusOf(failure), failure.OneLine());
}

std::optional<json> ParseRequestObject(std::string_view body)
{
    if (body.empty()) {
        return json::object();
    }
    if (!NestedWithin(body, kDeepestRequest)) {
        return std::nullopt;
    }
    json value = json::parse(body, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        return std::nullopt;
    }
    return value;
}

std::string Disposition(const std::string& name)
{
    std::string plain;
    std::string encoded;
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= '0' && byte <= '9') || c == '.' || c == '-' || c == '_';
        plain += byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' ? c : '_';
        if (safe) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0xF];
        }
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

std::optional<std::string> Query(const std::map<std::string, std::string>& query, const std::string& key)
{
    const auto found = query.find(key);
    return found == query.end() ? std::nullopt : std::optional(found->second);
}

std::string Echo(std::string text)
{
    constexpr std::size_t kLongestEcho = 200;
    if (text.size() > kLongestEcho) {
        text.resize(kLongestEcho);
        text += "...";
    }
    return text;
}

}  // namespace quorvel::studio

#pragma once

// The studio's answers in JSON, shaped in one place.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "extract/extract_error.hpp"
#include "studio/http_types.hpp"

namespace quorvel::studio {

// Invalid UTF-8 (from an archive's names, say) never ends an answer.
std::string Dump(const nlohmann::json& value);
// {"error": WHY} with the status.
Response Refusal(int status, std::string_view why);
// What a failure of a run or a read answers: a refusal (the pack's checks,
// a link in a file's place) 422, a file that changed while it was used
// 409, a system error 500.
int StatusOf(const Failure& failure);
Response FailureAnswer(const Failure& failure);

// The text of a JSON body, parsed only where it is an object no deeper
// than a request ever needs: a received value is never written back whole,
// and its nesting is bounded before any parser sees it.
std::optional<nlohmann::json> ParseRequestObject(std::string_view body);

// A value of the request's query, if it has one.
std::optional<std::string> Query(const std::map<std::string, std::string>& query, const std::string& key);
// What a request said, told back bounded (200 bytes and "...").
std::string Echo(std::string text);

// RFC 5987: a UTF-8 file name for Content-Disposition, and a plain
// fallback for clients that read only the old form.
std::string Disposition(const std::string& name);

}  // namespace quorvel::studio

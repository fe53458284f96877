#include "testing/layout.hpp"

#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::testing {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kItems = "an item (block, length, final, raw or repeat)";
constexpr std::string_view kParts =
    "a part (\"text\", wav(N), riff(SIZE), riff(SIZE, \"FORM\"), int32(V), bytes(N, V) or noise(N))";
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

bool IsWordCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// Reads the layout front to back, one item, part or number at a time.
class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Archive Items(bool in_repeat)
    {
        Archive archive;
        for (;;) {
            while (SkipBlanks() == ';' || Peek() == '\n') {
                line_ += Peek() == '\n' ? 1 : 0;
                ++at_;
            }
            if (Peek() == '\0' || Peek() == '}') {
                if (in_repeat != (Peek() == '}')) {
                    Fail(in_repeat ? "'}' to close the repeat" : kItems);
                }
                return archive;
            }
            const int line = line_;
            try {
                Item(archive);
            } catch (const std::length_error& error) {  // a block too long for its field, an archive too large
                throw LayoutError("line " + std::to_string(line) + ": " + error.what());
            }
            if (const char next = SkipBlanks(); next != '\0' && next != ';' && next != '\n' && next != '}') {
                Fail("';' or a new line after the item");
            }
        }
    }

private:
    // Skips spaces and comments (not line ends) and returns the next character, '\0' at the end.
    char SkipBlanks()
    {
        for (; at_ < text_.size() && text_[at_] != '\n'; ++at_) {
            if (text_[at_] == '#') {
                at_ = std::min(text_.find('\n', at_), text_.size());
                break;
            }
            if (std::isspace(static_cast<unsigned char>(text_[at_])) == 0) {
                break;
            }
        }
        return Peek();
    }

    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    std::string_view NextWord() const
    {
        std::size_t end = at_;
        while (end < text_.size() && IsWordCharacter(text_[end])) {
            ++end;
        }
        return text_.substr(at_, end - at_);
    }

    std::string Found() const
    {
        switch (Peek()) {
            case '\0':
                return "the end of the layout";
            case '\n':
                return "a new line";
            case '"':
                return "a text";
            default:
                return "'" + std::string(NextWord().empty() ? text_.substr(at_, 1) : NextWord()) + "'";
        }
    }

    [[noreturn]] void Fail(std::string_view expected, bool say_found = true) const
    {
        throw LayoutError("line " + std::to_string(line_) + ": expected " + std::string(expected) +
                          (say_found ? ", found " + Found() : ""));
    }

    void Expect(char symbol)
    {
        if (SkipBlanks() != symbol) {
            Fail(std::string{'\'', symbol, '\''});
        }
        ++at_;
    }

    void Item(Archive& archive)
    {
        const std::string word(NextWord());
        if (word != "block" && word != "length" && word != "final" && word != "raw" && word != "repeat") {
            Fail(kItems);
        }
        at_ += word.size();
        if (word == "block") {
            archive.AddBlock(Parts());
        } else if (word == "length") {
            const auto field = static_cast<std::int32_t>(
                Number("a length field N from -2147483648 to 2147483647", kInt32Min, kInt32Max));
            archive.AddLength(field, Parts());
        } else if (word == "final") {
            archive.Final();
        } else if (word == "raw") {
            archive.AddRaw(Parts());
        } else {
            const std::uint64_t count = Size("a repeat count");
            Expect('{');
            const Archive items = Items(true);
            Expect('}');
            archive.Repeat(count, items);
        }
    }

    std::vector<Part> Parts()
    {
        std::vector<Part> parts;
        while (SkipBlanks() == '"' || IsWordCharacter(Peek())) {
            parts.push_back(Peek() == '"' ? Part(Text()) : NamedPart());
        }
        return parts;
    }

    Part NamedPart()
    {
        const std::string name(NextWord());
        if (name != "wav" && name != "riff" && name != "int32" && name != "bytes" && name != "noise") {
            Fail(kParts);
        }
        at_ += name.size();
        Expect('(');
        const Part part = Arguments(name);
        Expect(')');
        return part;
    }

    Part Arguments(const std::string& name)
    {
        if (name == "wav") {
            return Wav(Size("a sound size N from 12 to 4G", 12, std::uint64_t{1} << 32));
        }
        if (name == "riff") {
            const auto size = static_cast<std::int32_t>(
                Number("a declared size SIZE from -2147483648 to 2147483647", kInt32Min, kInt32Max));
            if (SkipBlanks() != ',') {
                return Riff(size);
            }
            ++at_;
            const std::size_t start = (SkipBlanks(), at_);
            const std::string form = Peek() == '"' ? Text() : std::string();
            if (form.size() != 4) {
                at_ = start;
                Fail("a form type of 4 bytes, such as \"WAVE\"");
            }
            return Riff(size, form);
        }
        if (name == "int32") {
            return Int32(
                static_cast<std::int32_t>(Number("a value V from -2147483648 to 2147483647", kInt32Min, kInt32Max)));
        }
        const std::uint64_t count = Size("a size N");
        if (name == "noise") {
            return Noise(count);
        }
        Expect(',');
        return Fill(count, static_cast<std::uint8_t>(Number("a byte value V from 0 to 255", 0, 255)));
    }

    // A whole number from `low` to `high`.
    std::int64_t Number(std::string_view expected, std::int64_t low, std::int64_t high)
    {
        const std::string_view word = (SkipBlanks(), NextWord());
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (word.empty() || error != std::errc{} || end != word.data() + word.size() || value < low || value > high) {
            Fail(expected);
        }
        at_ += word.size();
        return value;
    }

    // A count or size from `low` to `high`, perhaps ending in K or M.
    std::uint64_t Size(std::string_view expected, std::uint64_t low = 0,
                       std::uint64_t high = std::numeric_limits<std::uint64_t>::max())
    {
        const std::string_view word = (SkipBlanks(), NextWord());
        const std::optional<std::uint64_t> value = ParseSize(word, "KM");
        if (!value || *value < low || *value > high) {
            Fail(expected);
        }
        at_ += word.size();
        return *value;
    }

    // A text between quotes, its escapes resolved.
    std::string Text()
    {
        std::string bytes;
        for (++at_; Peek() != '"'; ++at_) {
            if (Peek() == '\0' || Peek() == '\n') {
                Fail("'\"' to close the text before the end of its line", false);
            }
            bytes += Peek() == '\\' ? Escape() : Peek();
        }
        ++at_;
        return bytes;
    }

    char Escape()
    {
        ++at_;
        constexpr std::string_view kEscapes = "\\\\\"\"n\nt\t0\0"sv;
        if (const std::size_t found = kEscapes.find(Peek()); Peek() != '\0' && found % 2 == 0) {
            return kEscapes[found + 1];
        }
        unsigned value = 0;
        const char* digits = text_.data() + at_ + 1;
        if (Peek() != 'x' || at_ + 3 > text_.size() ||
            std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2) {
            Fail(Peek() == 'x' ? "two hex digits after \\x" : "an escape \\\\, \\\", \\n, \\t, \\0 or \\xHH", false);
        }
        at_ += 2;
        return static_cast<char>(value);
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
};

}  // namespace

std::optional<std::uint64_t> ParseSize(std::string_view text, std::string_view suffixes)
{
    const std::size_t suffix = text.empty() ? std::string_view::npos : suffixes.find(text.back());
    const std::uint64_t unit = suffix == std::string_view::npos ? 1 : std::uint64_t{1} << (10 * (suffix + 1));
    text.remove_suffix(unit == 1 ? 0 : 1);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        value > std::numeric_limits<std::uint64_t>::max() / unit) {
        return std::nullopt;
    }
    return value * unit;
}

Archive ParseLayout(std::string_view text)
{
    return Parser(text).Items(false);
}

}  // namespace quorvel::testing

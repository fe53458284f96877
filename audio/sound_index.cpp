#include "audio/sound_index.hpp"

#include <array>
#include <set>

namespace quorvel::audio {

namespace {

// The version changes with the file's layout and with any setting of the
// fingerprint: landmarks of another tuning would never match.
constexpr std::array<char, 8> kMagic = {'Q', 'V', 'S', 'N', 'D', 'I', 'X', '\x1a'};
constexpr std::uint32_t kVersion = 3;
// A content hash is 16 hex digits; more than this is not one.
constexpr std::size_t kLongestContentHash = 64;
constexpr std::size_t kLandmarkBytes = 8;
constexpr std::size_t kReadPiece = std::size_t{1} << 20;

std::uint64_t Fnv1a(std::span<const std::byte> bytes)
{
    std::uint64_t sum = 0xcbf29ce484222325ULL;
    for (const std::byte byte : bytes) {
        sum = (sum ^ static_cast<std::uint64_t>(byte)) * 0x100000001b3ULL;
    }
    return sum;
}

void PutNumber(std::vector<std::byte>& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::byte>(value >> (8 * i)));
    }
}

// Reads numbers and strings front to back, each only where the bytes left
// hold it whole.
class Reader {
public:
    explicit Reader(std::span<const std::byte> bytes) : bytes_(bytes) {}

    std::size_t left() const { return bytes_.size() - at_; }
    std::optional<std::uint64_t> Number(int bytes)
    {
        if (left() < static_cast<std::size_t>(bytes)) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<std::uint64_t>(bytes_[at_++]) << (8 * i);
        }
        return value;
    }
    std::optional<std::span<const std::byte>> Take(std::size_t count)
    {
        if (left() < count) {
            return std::nullopt;
        }
        const std::span<const std::byte> taken = bytes_.subspan(at_, count);
        at_ += count;
        return taken;
    }

private:
    std::span<const std::byte> bytes_;
    std::size_t at_ = 0;
};

std::optional<std::vector<Landmark>> ParseLandmarks(Reader& reader)
{
    const std::optional<std::uint64_t> count = reader.Number(8);
    if (!count || *count > reader.left() / kLandmarkBytes) {
        return std::nullopt;
    }
    std::vector<Landmark> landmarks(static_cast<std::size_t>(*count));
    for (Landmark& landmark : landmarks) {
        landmark.hash = static_cast<std::uint32_t>(*reader.Number(4));
        landmark.frame = static_cast<std::uint32_t>(*reader.Number(4));
    }
    return landmarks;
}

}  // namespace

std::vector<std::byte> SoundIndex::Bytes() const
{
    std::vector<std::byte> out;
    for (const char c : kMagic) {
        out.push_back(static_cast<std::byte>(c));
    }
    PutNumber(out, kVersion, 4);
    PutNumber(out, sounds_.size(), 8);
    for (const auto& [content_hash, landmarks] : sounds_) {
        PutNumber(out, content_hash.size(), 1);
        for (const char c : content_hash) {
            out.push_back(static_cast<std::byte>(c));
        }
        PutNumber(out, landmarks.size(), 8);
        for (const Landmark& landmark : landmarks) {
            PutNumber(out, landmark.hash, 4);
            PutNumber(out, landmark.frame, 4);
        }
    }
    PutNumber(out, Fnv1a(out), 8);
    return out;
}

std::optional<SoundIndex> SoundIndex::Parse(std::span<const std::byte> bytes)
{
    if (bytes.size() < kMagic.size() + 4 + 8 + 8) {
        return std::nullopt;
    }
    const std::span<const std::byte> body = bytes.first(bytes.size() - 8);
    Reader sum_reader(bytes.last(8));
    if (*sum_reader.Number(8) != Fnv1a(body)) {
        return std::nullopt;
    }
    Reader reader(body);
    const std::span<const std::byte> magic = *reader.Take(kMagic.size());
    for (std::size_t i = 0; i < kMagic.size(); ++i) {
        if (magic[i] != static_cast<std::byte>(kMagic[i])) {
            return std::nullopt;
        }
    }
    const std::optional<std::uint64_t> version = reader.Number(4);
    const std::optional<std::uint64_t> count = reader.Number(8);
    // Each sound takes at least its hash's length and its landmark count.
    if (version != kVersion || !count || *count > reader.left() / 9) {
        return std::nullopt;
    }
    SoundIndex index;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const std::optional<std::uint64_t> length = reader.Number(1);
        if (!length || *length == 0 || *length > kLongestContentHash) {
            return std::nullopt;
        }
        const std::optional<std::span<const std::byte>> hash = reader.Take(static_cast<std::size_t>(*length));
        if (!hash) {
            return std::nullopt;
        }
        std::optional<std::vector<Landmark>> landmarks = ParseLandmarks(reader);
        if (!landmarks) {
            return std::nullopt;
        }
        std::string content_hash(reinterpret_cast<const char*>(hash->data()), hash->size());
        if (!index.sounds_.emplace(std::move(content_hash), std::move(*landmarks)).second) {
            return std::nullopt;  // one hash twice: not a file this program wrote
        }
    }
    if (reader.left() != 0) {
        return std::nullopt;
    }
    return index;
}

SoundIndex::Loaded SoundIndex::Load(FileSystem& files, const std::string& path, SoundIndex& index)
{
    index.sounds_.clear();
    std::unique_ptr<InputFile> input;
    try {
        input = files.OpenRegularFile(path);
    } catch (const ExtractError&) {
        return Loaded::kDamaged;  // a folder or a link in its place: written anew over it, or refused then
    }
    if (input == nullptr) {
        return Loaded::kNone;
    }
    const std::uint64_t size = input->Size();
    std::vector<std::byte> bytes;
    bytes.reserve(static_cast<std::size_t>(size));
    std::vector<std::byte> piece(kReadPiece);
    while (bytes.size() < size) {
        const std::size_t got = input->ReadAt(bytes.size(), piece);
        if (got == 0) {
            break;
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
    }
    std::optional<SoundIndex> parsed = Parse(bytes);
    if (!parsed) {
        return Loaded::kDamaged;
    }
    index = std::move(*parsed);
    return Loaded::kRead;
}

void SoundIndex::Save(FileSystem& files, const std::string& path) const
{
    const std::vector<std::byte> bytes = Bytes();
    std::unique_ptr<OutputFile> output = files.CreateOutput(path, FileSystem::IfTaken::kReplace);
    try {
        output->Write(bytes);
        output->Close();
    } catch (...) {
        output->Abandon();
        throw;
    }
}

const std::vector<Landmark>* SoundIndex::Find(const std::string& content_hash) const
{
    const auto found = sounds_.find(content_hash);
    return found == sounds_.end() ? nullptr : &found->second;
}

void SoundIndex::Put(const std::string& content_hash, std::vector<Landmark> landmarks)
{
    sounds_.insert_or_assign(content_hash, std::move(landmarks));
}

std::size_t SoundIndex::Update(std::span<const Sound> sounds, const std::function<void(const SoundError&)>& failed)
{
    std::set<std::string> present;
    std::size_t fingerprinted = 0;
    for (const Sound& sound : sounds) {
        present.insert(sound.content_hash);
        if (sounds_.contains(sound.content_hash)) {
            continue;
        }
        std::vector<Landmark> landmarks;
        try {
            landmarks = sound.fingerprint();
        } catch (const SoundError& error) {
            failed(error);
        }
        sounds_.emplace(sound.content_hash, std::move(landmarks));
        ++fingerprinted;
    }
    std::erase_if(sounds_, [&present](const auto& entry) { return !present.contains(entry.first); });
    return fingerprinted;
}

}  // namespace quorvel::audio

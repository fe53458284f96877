// The studio's routes over a fake backend: the rules of access, the
// listing, a file's bytes, labels and the runs (one at a time, stoppable).

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "studio/labels.hpp"
#include "studio/studio.hpp"
#include "studio/text_file.hpp"

namespace quorvel::studio {
namespace {

using nlohmann::json;

constexpr std::uint16_t kPort = 8123;
const std::string kToken(64, '7');

class MemorySource final : public ByteSource {
public:
    MemorySource(std::string bytes, std::uint64_t offset) : bytes_(std::move(bytes)), at_(offset) {}
    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t count = std::min<std::size_t>(buffer.size(), bytes_.size() - std::min(at_, bytes_.size()));
        std::memcpy(buffer.data(), bytes_.data() + at_, count);
        at_ += count;
        return count;
    }

private:
    std::string bytes_;
    std::size_t at_;
};

class MemoryUpload final : public UploadFile {
public:
    void Write(std::span<const std::byte> bytes) override
    {
        bytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    void Finish() override {}
    std::string bytes_;
};

// Two archives' worth of files in memory; an extraction that waits for the
// test's word, so that a second run can be tried while it goes.
class FakeBackend final : public StudioBackend {
public:
    explicit FakeBackend(std::filesystem::path folder) : folder_(std::move(folder))
    {
        Add("sfx/sfx_0001.wav", "sound", std::string("RIFF\x04\x00\x00\x00WAVE", 12) + std::string(2000, 'a'));
        Add("sfx/sfx_0002", "tail", "stray bytes");
        Add("speech/speech_0001.wav", "sound", files_["sfx/sfx_0001.wav"]);  // the same bytes
    }

    Listing List() override
    {
        Listing listing;
        for (const ListedFile& file : listed_) {
            listing.lines.push_back({file.record, listing.files.size()});
            listing.files.push_back(file);
        }
        listing.lines.push_back({"{\"archive\": \"sfx.pak\"}", std::nullopt});
        return listing;
    }
    std::unique_ptr<ByteSource> OpenListed(const ListedFile& file, std::uint64_t offset) override
    {
        return std::make_unique<MemorySource>(files_.at(file.path), offset);
    }
    std::optional<std::uint64_t> OutputSize(const ListedFile& file) override
    {
        const auto found = output_.find(file.path);
        return found == output_.end() ? std::nullopt : std::optional<std::uint64_t>(found->second.size());
    }
    std::unique_ptr<ByteSource> OpenOutput(const ListedFile& file, std::uint64_t offset) override
    {
        return std::make_unique<MemorySource>(output_.at(file.path), offset);
    }
    std::string OutputFolder() const override { return Utf8FromPath(folder_); }

    void Extract(const std::vector<const ListedFile*>& chosen, RunReporter& reporter) override
    {
        reporter.Status("Extracting: sfx");
        std::unique_lock lock(mutex_);
        started_ = true;
        changed_.notify_all();
        // Goes on until the test lets it or the run is asked to stop.
        while (!released_) {
            if (reporter.StopRequested()) {
                throw RunStopped();
            }
            reporter.Progress(1, 4);
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
        for (const ListedFile* file : chosen) {
            output_[file->path] = files_.at(file->path);
        }
    }
    std::unique_ptr<UploadFile> CreateUpload() override { return std::make_unique<MemoryUpload>(); }
    SwapOutcome Swap(const ListedFile& file, UploadFile& upload, RunReporter& /*reporter*/) override
    {
        const std::string& bytes = dynamic_cast<MemoryUpload&>(upload).bytes_;
        if (bytes.find("RIFF", 12) != std::string::npos) {
            return {.accepted = false, .refusal = "its samples hold RIFF and WAVE"};
        }
        output_[file.path] = bytes;
        return {.accepted = true, .refusal = {}};
    }
    void Undo(const ListedFile& file, RunReporter& /*reporter*/) override { output_[file.path] = files_.at(file.path); }
    PackReport Pack(bool dry_run, RunReporter& /*reporter*/) override
    {
        ++packs_;
        return PackReport{.dry_run = dry_run,
                          .archives = {ArchiveReport{.archive = "sfx.pak",
                                                     .old_size = 100,
                                                     .new_size = 120,
                                                     .blocks = 2,
                                                     .changes = {{.offset = 0,
                                                                  .old_size = 50,
                                                                  .new_size = 70,
                                                                  .files = {"sfx/sfx_0001.wav"},
                                                                  .final_field = false}},
                                                     .ignored = {},
                                                     .repaired = std::nullopt,
                                                     .refused = std::nullopt,
                                                     .result = "packed"}}};
    }

    void WaitUntilStarted()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return started_; });
    }
    void Release()
    {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    std::map<std::string, std::string> files_;
    std::map<std::string, std::string> output_;
    int packs_ = 0;

private:
    void Add(const std::string& path, const std::string& kind, std::string bytes)
    {
        const auto slash = path.find('/');
        listed_.push_back(ListedFile{.path = path,
                                     .archive = path.substr(0, slash),
                                     .file_name = path.substr(slash + 1),
                                     .kind = kind,
                                     .offset = 0,
                                     .size = bytes.size(),
                                     .record = "{\"path\": \"" + path + "\", \"kind\": \"" + kind + "\"}"});
        files_[path] = std::move(bytes);
    }

    std::filesystem::path folder_;
    std::vector<ListedFile> listed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;
    bool released_ = false;
};

// What one request gave: the answer, once it came (a run's comes later).
struct Answer {
    std::shared_ptr<std::promise<Response>> promise = std::make_shared<std::promise<Response>>();
    std::future<Response> future = promise->get_future();

    Response Get() { return future.get(); }
    bool Ready() { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
};

std::string Body(Response& response)
{
    if (!response.stream) {
        return response.body;
    }
    std::string bytes;
    std::byte piece[7];
    for (std::size_t got; (got = response.stream->Read(piece)) > 0 && bytes.size() < response.stream_length;) {
        bytes.append(reinterpret_cast<const char*>(piece), got);
    }
    return bytes.substr(0, response.stream_length);
}

std::string Header(const Response& response, const std::string& name)
{
    for (const auto& [key, value] : response.headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

class Routes : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("quorvel-routes-test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        backend_ = std::make_unique<FakeBackend>(folder_);
    }
    void TearDown() override
    {
        backend_->Release();
        studio_.reset();
        std::filesystem::remove_all(folder_);
    }

    Studio& Start(std::optional<std::string> shared_labels = std::nullopt)
    {
        studio_ = std::make_unique<Studio>(*backend_, StudioOptions{.token = kToken, .shared_labels = shared_labels});
        studio_->Start();
        studio_->SetPort(kPort);
        return *studio_;
    }

    static RequestHead Head(std::string method, std::string target, bool with_token = true)
    {
        if (with_token) {
            target += (target.find('?') == std::string::npos ? "?" : "&") + std::string("token=") + kToken;
        }
        RequestHead head{.method = std::move(method),
                         .target = std::move(target),
                         .host = "127.0.0.1:" + std::to_string(kPort),
                         .origin = std::nullopt,
                         .range = std::nullopt};
        if (head.method == "POST") {
            head.origin = "http://127.0.0.1:" + std::to_string(kPort);
        }
        return head;
    }

    Answer Send(const RequestHead& head, std::string body = {}, std::string upload_bytes = {})
    {
        Admission admission = studio_->Admit(head);
        Answer answer;
        if (admission.answer) {
            answer.promise->set_value(std::move(*admission.answer));
            return answer;
        }
        EXPECT_LE(body.size(), admission.body_limit);
        if (admission.upload) {
            admission.upload->Write(std::as_bytes(std::span(upload_bytes.data(), upload_bytes.size())));
            admission.upload->Finish();
        }
        auto promise = answer.promise;
        studio_->Handle(head, std::move(body), std::move(admission.upload),
                        [promise](Response response) { promise->set_value(std::move(response)); });
        return answer;
    }

    Response Get(const std::string& target) { return Send(Head("GET", target)).Get(); }
    Response Post(const std::string& target, std::string body = {}) { return Send(Head("POST", target), body).Get(); }

    std::filesystem::path folder_;
    std::unique_ptr<FakeBackend> backend_;
    std::unique_ptr<Studio> studio_;
};

TEST_F(Routes, EveryRequestNeedsTheTokenOurHostAndForChangesOurOrigin)
{
    Start();
    const auto status = [this](RequestHead head) { return Send(head).Get().status; };
    EXPECT_EQ(status(Head("GET", "/api/entries")), 200);
    EXPECT_EQ(status(Head("GET", "/api/entries", false)), 403);
    EXPECT_EQ(status(Head("GET", "/api/entries?token=" + std::string(64, '8'), false)), 403);
    EXPECT_EQ(status(Head("GET", "/?token=", false)), 403);
    RequestHead rebinding = Head("GET", "/api/entries");
    rebinding.host = "evil.example:" + std::to_string(kPort);
    EXPECT_EQ(status(rebinding), 403);
    RequestHead no_host = Head("GET", "/api/entries");
    no_host.host.reset();
    EXPECT_EQ(status(no_host), 403);
    RequestHead cross_site = Head("POST", "/api/labels");
    cross_site.origin = "http://evil.example";
    EXPECT_EQ(status(cross_site), 403);
    RequestHead no_origin = Head("POST", "/api/quit");
    no_origin.origin.reset();
    EXPECT_EQ(status(no_origin), 403);
    EXPECT_EQ(status(Head("PUT", "/api/labels")), 405);
    // A refusal tells nothing of what is behind it.
    const Response refused = Send(Head("GET", "/api/entries", false)).Get();
    EXPECT_EQ(refused.body, "Forbidden\n");
    EXPECT_FALSE(studio_->Finished());
}

TEST_F(Routes, TheEntriesAreTheListingsRecordsWithLabelsOnlyForASharedList)
{
    Start();
    EXPECT_EQ(Get("/api/entries").body,
              "{\"path\": \"sfx/sfx_0001.wav\", \"kind\": \"sound\"}\n{\"path\": \"sfx/sfx_0002\", \"kind\": "
              "\"tail\"}\n{\"path\": \"speech/speech_0001.wav\", \"kind\": \"sound\"}\n{\"archive\": \"sfx.pak\"}\n");
    studio_.reset();
    Start("sfx/sfx_0002\t\tstray <b>bytes</b>\n");
    const std::string body = Get("/api/entries").body;
    EXPECT_NE(body.find("{\"path\": \"sfx/sfx_0002\", \"kind\": \"tail\", \"label\": \"stray <b>bytes</b>\"}\n"),
              std::string::npos);
    EXPECT_NE(body.find("{\"path\": \"sfx/sfx_0001.wav\", \"kind\": \"sound\", \"label\": null}\n"), std::string::npos);
    EXPECT_NE(body.find("{\"archive\": \"sfx.pak\"}\n"), std::string::npos);
    ASSERT_TRUE(studio_->shared_match());
    EXPECT_EQ(studio_->shared_match()->by_path, 1U);
    // The list given at the start is kept in the labels file at once.
    const auto saved = ReadTextFile(folder_ / std::string(kLabelsFileName), 1 << 20);
    ASSERT_TRUE(saved);
    EXPECT_NE(saved->find("sfx/sfx_0002\t"), std::string::npos);
    EXPECT_NE(saved->find("\tstray <b>bytes</b>\n"), std::string::npos);
}

TEST_F(Routes, AFilesBytesWholeOrARangeOnlyForListedPaths)
{
    Start();
    const std::string& bytes = backend_->files_.at("sfx/sfx_0001.wav");
    Response whole = Get("/api/file/sfx/sfx_0001.wav");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.content_type, "audio/wav");
    EXPECT_EQ(Body(whole), bytes);
    RequestHead ranged = Head("GET", "/api/file/sfx/sfx_0001.wav");
    ranged.range = "bytes=8-11";
    Response part = Send(ranged).Get();
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(Header(part, "Content-Range"), "bytes 8-11/" + std::to_string(bytes.size()));
    EXPECT_EQ(Body(part), "WAVE");
    ranged.range = "bytes=99999-";
    EXPECT_EQ(Send(ranged).Get().status, 416);
    EXPECT_EQ(Get("/api/file/sfx/sfx_0002").content_type, "application/octet-stream");
    for (const char* hostile : {"/api/file/sfx/sfx_0003", "/api/file/../sfx.pak", "/api/file/sfx/%2e%2e/x",
                                "/api/file/quorvel-labels.tsv", "/api/output/sfx/sfx_0001.wav"}) {
        EXPECT_EQ(Get(hostile).status, 404) << hostile;
    }
}

TEST_F(Routes, ALabelIsSavedAtOnceWithItsHashAndNamesTheDownload)
{
    Start();
    Response saved = Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "door creak"})");
    EXPECT_EQ(saved.status, 200) << saved.body;
    const std::string hash = json::parse(Get("/api/hashes").body).at("sfx/sfx_0001.wav");
    const auto file = ReadTextFile(folder_ / std::string(kLabelsFileName), 1 << 20);
    ASSERT_TRUE(file);
    EXPECT_NE(file->find("sfx/sfx_0001.wav\t" + hash + "\tdoor creak\n"), std::string::npos);
    Response download = Get("/api/file/sfx/sfx_0001.wav?download=1");
    EXPECT_EQ(Header(download, "Content-Disposition"),
              "attachment; filename=\"0001 door creak.wav\"; filename*=UTF-8''0001%20door%20creak.wav");
    // A label the file could not hold is refused, and the file stays as it was.
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "a\tb"})").status, 400);
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/nope.wav", "label": "x"})").status, 404);
    EXPECT_EQ(Post("/api/labels", "not json").status, 400);
    EXPECT_EQ(ReadTextFile(folder_ / std::string(kLabelsFileName), 1 << 20), file);
}

TEST_F(Routes, ASharedListMatchesByHashFirst)
{
    Start();
    const std::string hash = json::parse(Get("/api/hashes").body).at("sfx/sfx_0002");
    const std::string list =
        "# from an earlier release\n"
        "sfx/sfx_0777\t" +
        hash +
        "\tmoved stray bytes\n"
        "speech/speech_0001.wav\t1111111111111111\tby path\n"
        "sfx/gone.wav\t2222222222222222\tnowhere\n"
        "bad line\n";
    Response imported = Post("/api/labels/import", list);
    ASSERT_EQ(imported.status, 200) << imported.body;
    const json counts = json::parse(imported.body);
    EXPECT_EQ(counts["by_hash"], 1);
    EXPECT_EQ(counts["by_path"], 1);
    EXPECT_EQ(counts["unmatched"], 1);
    EXPECT_EQ(counts["rejected"], 1);
    EXPECT_EQ(counts["saved"], Utf8FromPath(folder_) + "/" + std::string(kLabelsFileName));
    const json labels = json::parse(Get("/api/labels").body);
    EXPECT_EQ(labels, json({{"sfx/sfx_0002", "moved stray bytes"}, {"speech/speech_0001.wav", "by path"}}));
}

TEST_F(Routes, OneRunAtATimeReportingAndStoppable)
{
    Start();
    Answer first = Send(Head("POST", "/api/extract"), R"({"paths": ["sfx/sfx_0002"]})");
    backend_->WaitUntilStarted();
    EXPECT_FALSE(first.Ready());  // a run answers when it ends
    EXPECT_EQ(Post("/api/extract", "{}").status, 409);
    EXPECT_EQ(Post("/api/pack", R"({"dry_run": true})").status, 409);
    EXPECT_EQ(Send(Head("POST", "/api/swap/sfx/sfx_0001.wav"), {}, "RIFF").Get().status, 409);
    const json run = json::parse(Get("/api/run").body);
    EXPECT_EQ(run["name"], "extract");
    EXPECT_EQ(run["running"], true);
    EXPECT_EQ(run["status"], "Extracting: sfx");
    studio_->RequestStop();  // Ctrl-C
    EXPECT_EQ(first.Get().status, 503);
    EXPECT_TRUE(studio_->StoppedARun());
    while (!studio_->Finished()) {
        std::this_thread::yield();  // the run's thread marks its end right after its answer
    }
    EXPECT_EQ(json::parse(Get("/api/run").body)["outcome"], "stopped");
    EXPECT_TRUE(backend_->output_.empty());
}

TEST_F(Routes, ARunThatEndsAnswersAndTheNextMayStart)
{
    Start();
    Answer first = Send(Head("POST", "/api/extract"), R"({"paths": ["sfx/sfx_0002"]})");
    backend_->WaitUntilStarted();
    backend_->Release();
    Response done = first.Get();
    EXPECT_EQ(done.status, 200);
    EXPECT_EQ(json::parse(done.body)["extracted"], 1);
    EXPECT_EQ(backend_->output_.at("sfx/sfx_0002"), "stray bytes");
    Response report = Post("/api/pack", R"({"dry_run": true})");  // waits its turn, then runs
    ASSERT_EQ(report.status, 200) << report.body;
    const json parsed = json::parse(report.body);
    EXPECT_EQ(parsed["dry_run"], true);
    EXPECT_EQ(parsed["archives"][0]["changes"][0]["files"][0], "sfx/sfx_0001.wav");
    EXPECT_EQ(Post("/api/pack", R"({"dry_run": "yes"})").status, 400);
    EXPECT_EQ(Post("/api/extract", R"({"paths": ["../sfx.pak"]})").status, 404);
    EXPECT_EQ(Post("/api/extract", R"({"paths": []})").status, 400);  // not "all": that is no paths at all
    EXPECT_FALSE(studio_->StoppedARun());
}

TEST_F(Routes, ASwapThePackRefusesChangesNothingAndOneItTakesShowsChanged)
{
    Start();
    backend_->Release();
    Response refused = Send(Head("POST", "/api/swap/sfx/sfx_0001.wav"), {}, "RIFF....WAVEdataRIFF").Get();
    EXPECT_EQ(refused.status, 422);
    EXPECT_EQ(json::parse(refused.body)["error"], "its samples hold RIFF and WAVE");
    EXPECT_TRUE(backend_->output_.empty());
    EXPECT_EQ(json::parse(Get("/api/run").body)["outcome"], "refused");
    EXPECT_EQ(Send(Head("POST", "/api/swap/sfx/sfx_0002"), {}, "x").Get().status, 400);  // not a sound
    Response taken = Send(Head("POST", "/api/swap/sfx/sfx_0001.wav"), {}, "RIFF new sound").Get();
    EXPECT_EQ(taken.status, 200);
    EXPECT_EQ(json::parse(Get("/api/status").body)["changed"], json({"sfx/sfx_0001.wav"}));
    EXPECT_EQ(Body(*std::make_unique<Response>(Get("/api/output/sfx/sfx_0001.wav"))), "RIFF new sound");
    EXPECT_EQ(Post("/api/undo/sfx/sfx_0001.wav").status, 200);
    EXPECT_EQ(json::parse(Get("/api/status").body)["changed"], json::array());
}

TEST_F(Routes, QuitEndsTheStudioOnceItsAnswerIsSent)
{
    Start();
    Response bye = Post("/api/quit");
    EXPECT_EQ(bye.status, 200);
    EXPECT_FALSE(studio_->Finished());
    ASSERT_TRUE(bye.after_sent);
    bye.after_sent();
    EXPECT_TRUE(studio_->Finished());
    EXPECT_FALSE(studio_->StoppedARun());
}

TEST_F(Routes, ThePageCarriesTheTokenToItsAssets)
{
    Start();
    Response page = Get("/");
    EXPECT_EQ(page.content_type, "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("studio.js?token=" + kToken), std::string::npos);
    EXPECT_EQ(page.body.find("@TOKEN@"), std::string::npos);
    EXPECT_EQ(Get("/studio.js").content_type, "text/javascript; charset=utf-8");
    EXPECT_EQ(Get("/nothing.html").status, 404);
}

}  // namespace
}  // namespace quorvel::studio

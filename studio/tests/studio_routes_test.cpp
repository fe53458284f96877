// The studio's routes over the real core and the in-memory file system:
// the rules of access, the listing, a file's bytes, labels, and the runs
// (one at a time, stoppable, answered by what ended them).

#include <sndfile.h>

#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>

#include "audio/tests/sound_kit.hpp"
#include "studio/studio.hpp"
#include "testing/archive_builder.hpp"
#include "testing/layout.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel::studio {
namespace {

using nlohmann::json;
using testing::MemoryFileSystem;

constexpr std::uint16_t kPort = 8123;
const std::string kToken(64, '7');

// A playable sound whose samples are `samples` (8-bit mono).
std::string Sound(const std::string& samples)
{
    return testing::PcmHeader(static_cast<std::uint32_t>(36 + samples.size()), 1, 8000, 8,
                              static_cast<std::uint32_t>(samples.size())) +
           samples;
}

// The file system of the runs: the memory's own, where the making of an
// output can be held until the test lets it go, so that a second run can
// be tried while one goes.
class Gate {
public:
    void Close()
    {
        const std::lock_guard lock(mutex_);
        open_ = false;
    }
    void Open()
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void PassThrough()
    {
        std::unique_lock lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    void WaitUntilReached()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return reached_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    bool reached_ = false;
};

class GatedFileSystem final : public ForwardingFileSystem {
public:
    GatedFileSystem(FileSystem& files, Gate& gate) : ForwardingFileSystem(files), gate_(gate) {}
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path, IfTaken if_taken) override
    {
        gate_.PassThrough();
        return files_.CreateOutput(path, if_taken);
    }

private:
    Gate& gate_;
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
    for (std::size_t got; bytes.size() < response.stream_length && (got = response.stream->Read(piece)) > 0;) {
        bytes.append(reinterpret_cast<const char*>(piece), got);
    }
    return bytes.substr(0, response.stream_length);
}

std::vector<std::byte> Bytes(const std::string& text)
{
    const auto* first = reinterpret_cast<const std::byte*>(text.data());
    return {first, first + text.size()};
}

std::string Text(const std::vector<std::byte>& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
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
    Routes()
    {
        files_.AddArchive("sfx.pak", testing::Archive().Block(Sound("abcdefgh"), "stray bytes").Final());
        files_.AddArchive("speech.pak", testing::Archive().Block(Sound("abcdefgh")).Final());
    }
    ~Routes() override
    {
        gate_.Open();
        studio_.reset();
    }

    // The index is made ahead only where `index_ahead`: the runs' gate and
    // the counts of what a search indexes are the tests' own.
    Studio& Start(std::optional<std::string> shared_labels = std::nullopt, bool index_ahead = false)
    {
        studio_.reset();
        studio_ = std::make_unique<Studio>(game_, StudioOptions{.token = kToken,
                                                                .shared_labels = std::move(shared_labels),
                                                                .output_folder_shown = "/games/quorvel",
                                                                .index_ahead = index_ahead});
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

    Answer Send(const RequestHead& head, std::string body = {}, std::optional<std::string> upload = std::nullopt)
    {
        Admission admission = studio_->Admit(head);
        Answer answer;
        if (admission.answer) {
            answer.promise->set_value(std::move(*admission.answer));
            return answer;
        }
        EXPECT_LE(body.size(), admission.body_limit);
        EXPECT_EQ(upload.has_value(), admission.upload != nullptr);
        if (admission.upload && upload) {
            admission.upload->Write(std::as_bytes(std::span(upload->data(), upload->size())));
            admission.upload->Finish();
        }
        auto promise = answer.promise;
        studio_->Handle(head, std::move(body), std::move(admission.upload),
                        [promise](Response response) { promise->set_value(std::move(response)); });
        return answer;
    }

    Response Get(const std::string& target) { return Send(Head("GET", target)).Get(); }
    Response Post(const std::string& target, std::string body = {}) { return Send(Head("POST", target), body).Get(); }
    // As given, unless `flags` ask for it to be fitted ("dry_run=1", "" ...).
    Response Swap(const std::string& path, const std::string& bytes, const std::string& name = "new.wav",
                  const std::string& flags = "as_is=1")
    {
        return Send(Head("POST", "/api/swap/" + path + "?name=" + name + (flags.empty() ? "" : "&" + flags)), {}, bytes)
            .Get();
    }
    std::string Output(const std::string& path) { return std::string(testing::AsText(files_.Outputs().at(path))); }

    MemoryFileSystem files_;
    Gate gate_;
    GameFolder game_{Places{}, files_, [this] { return std::make_unique<GatedFileSystem>(files_, gate_); }, files_};
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
    EXPECT_EQ(status(Head("POST", "/api/nothing")), 404);
    // A refusal tells nothing of what is behind it, and trusts nothing.
    Admission refused = studio_->Admit(Head("GET", "/api/entries", false));
    EXPECT_EQ(refused.answer->body, "Forbidden\n");
    EXPECT_FALSE(refused.trusted);
    EXPECT_TRUE(studio_->Admit(Head("GET", "/api/entries")).trusted);
    EXPECT_FALSE(studio_->Finished());
}

TEST_F(Routes, TheEntriesAreTheListingsRecordsWithLabelsOnlyForASharedList)
{
    Start();
    const std::string plain = Get("/api/entries").body;
    EXPECT_TRUE(plain.starts_with("{\"path\": \"sfx/sfx_0001.wav\", \"kind\": \"sound\", \"offset\": 4,")) << plain;
    EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 5);  // three files, two archives
    EXPECT_EQ(plain.find("\"label\""), std::string::npos);
    Start("sfx/sfx_0002\t\tstray <b>bytes</b>\n");
    const std::string body = Get("/api/entries").body;
    EXPECT_NE(body.find("\"path\": \"sfx/sfx_0002\", \"kind\": \"tail\""), std::string::npos);
    EXPECT_NE(body.find(", \"label\": \"stray <b>bytes</b>\"}\n"), std::string::npos);
    EXPECT_NE(body.find(", \"label\": null}\n"), std::string::npos);
    ASSERT_TRUE(studio_->shared_match());
    EXPECT_EQ(studio_->shared_match()->by_path, 1U);
    // The list given at the start is kept in the labels file at once.
    const std::string saved = Output("quorvel-labels.tsv");
    EXPECT_NE(saved.find("sfx/sfx_0002\t"), std::string::npos);
    EXPECT_NE(saved.find("\tstray <b>bytes</b>\n"), std::string::npos);
}

TEST_F(Routes, AFilesBytesWholeOrARangeOnlyForListedPaths)
{
    Start();
    const std::string bytes = Sound("abcdefgh");
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
    // A link planted in the output folder is never read through.
    files_.Plant("sfx/sfx_0001.wav", PackFileSystem::Found::kLink);
    const Response link = Get("/api/output/sfx/sfx_0001.wav");
    EXPECT_EQ(link.status, 422);
    EXPECT_EQ(json::parse(link.body)["error"], "sfx/sfx_0001.wav: is a symbolic link");
}

TEST_F(Routes, ALabelIsSavedAtOnceWithItsHashAndNamesTheDownload)
{
    Start();
    Response saved = Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "door creak"})");
    EXPECT_EQ(saved.status, 200) << saved.body;
    const std::string hash = json::parse(Get("/api/hashes").body).at("sfx/sfx_0001.wav");
    const std::string file = Output("quorvel-labels.tsv");
    EXPECT_NE(file.find("sfx/sfx_0001.wav\t" + hash + "\tdoor creak\n"), std::string::npos);
    Response download = Get("/api/file/sfx/sfx_0001.wav?download=1");
    EXPECT_EQ(Header(download, "Content-Disposition"),
              "attachment; filename=\"0001 door creak.wav\"; filename*=UTF-8''0001%20door%20creak.wav");
    // A label the file could not hold is refused, and the file stays as it was.
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "a\tb"})").status, 400);
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "door\u2028creak"})").status, 400);
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/sfx_0001.wav", "label": "\u202Ekaerc rood"})").status, 400);
    EXPECT_EQ(Post("/api/labels", R"({"path": "sfx/nope.wav", "label": "x"})").status, 404);
    EXPECT_EQ(Post("/api/labels", "not json").status, 400);
    EXPECT_EQ(Output("quorvel-labels.tsv"), file);
}

TEST_F(Routes, ASharedListMatchesByHashFirst)
{
    Start();
    const std::string hash = json::parse(Get("/api/hashes").body).at("sfx/sfx_0002");
    const std::string list = "# from an earlier release\nsfx/sfx_0777\t" + hash +
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
    EXPECT_EQ(counts["saved"], "quorvel-labels.tsv");
    EXPECT_EQ(json::parse(Get("/api/labels").body),
              json({{"sfx/sfx_0002", "moved stray bytes"}, {"speech/speech_0001.wav", "by path"}}));
}

// A body nested deeper than any request needs is refused before it is
// parsed, and nothing received is written back whole.
TEST_F(Routes, AHostileBodyIsRefusedShortly)
{
    Start();
    const std::string deep = "{\"paths\":[" + std::string(100000, '[') + std::string(100000, ']') + "]}";
    const Response nested = Post("/api/extract", deep);
    EXPECT_EQ(nested.status, 400);
    EXPECT_LT(nested.body.size(), 200U);
    const Response long_path = Post("/api/extract", R"({"paths": [")" + std::string(100000, 'x') + R"("]})");
    EXPECT_EQ(long_path.status, 404);
    EXPECT_LT(long_path.body.size(), 400U);
    EXPECT_EQ(Post("/api/extract", R"({"paths": [{"a": 1}]})").status, 400);
}

TEST_F(Routes, OneRunAtATimeReportingAndStoppable)
{
    Start();
    gate_.Close();
    Answer first = Send(Head("POST", "/api/extract"), R"({"paths": ["sfx/sfx_0002"]})");
    gate_.WaitUntilReached();
    EXPECT_FALSE(first.Ready());  // a run answers when it ends
    EXPECT_EQ(Post("/api/extract", "{}").status, 409);
    EXPECT_EQ(Post("/api/pack", R"({"dry_run": true})").status, 409);
    EXPECT_EQ(Send(Head("POST", "/api/swap/sfx/sfx_0001.wav"), {}).Get().status, 409);  // not even its upload
    const json run = json::parse(Get("/api/run").body);
    EXPECT_EQ(run["name"], "extract");
    EXPECT_EQ(run["running"], true);
    EXPECT_EQ(run["status"], "Extracting: sfx");
    studio_->RequestStop();  // Ctrl-C
    gate_.Open();
    EXPECT_EQ(first.Get().status, 503);
    EXPECT_TRUE(studio_->StoppedARun());
    while (!studio_->Finished()) {
        std::this_thread::yield();  // the run's thread marks its end right after its answer
    }
    EXPECT_EQ(json::parse(Get("/api/run").body)["outcome"], "stopped");
}

TEST_F(Routes, ARunThatEndsAnswersAndTheNextMayStart)
{
    Start();
    Response done = Post("/api/extract", R"({"paths": ["sfx/sfx_0002"]})");
    EXPECT_EQ(done.status, 200);
    EXPECT_EQ(json::parse(done.body), json({{"extracted", 1}, {"folder", "/games/quorvel"}}));
    EXPECT_EQ(Output("sfx/sfx_0002"), "stray bytes");
    EXPECT_EQ(Post("/api/extract", "{}").status, 200);
    files_.SetOutput("sfx/sfx_0002", testing::Bytes(3, std::byte{'x'}));
    Response report = Post("/api/pack", R"({"dry_run": true})");
    ASSERT_EQ(report.status, 200) << report.body;
    const json parsed = json::parse(report.body);
    EXPECT_EQ(parsed["dry_run"], true);
    EXPECT_EQ(parsed["archives"][0]["changes"][0]["files"], json({"sfx/sfx_0001.wav", "sfx/sfx_0002"}));
    EXPECT_EQ(parsed["archives"][0]["lines"].back(),
              "sfx.pak: 1 of 1 blocks would change, 71 -> 63 bytes; nothing was written");
    EXPECT_EQ(Post("/api/pack", R"({"dry_run": "yes"})").status, 400);
    EXPECT_EQ(Post("/api/extract", R"({"paths": ["../sfx.pak"]})").status, 404);
    EXPECT_EQ(Post("/api/extract", R"({"paths": []})").status, 400);  // not "all": that is no paths at all
    EXPECT_FALSE(studio_->StoppedARun());
}

// A new file is refused, with what is wrong, what to do and which sound
// stays, when it is no whole WAV or would not come back from a pack; one
// taken shows as changed, with what the folder now holds.
TEST_F(Routes, ASwapTakesOnlyAWholeSoundThatSurvivesAPack)
{
    Start();
    const std::string whole = Sound("abcdefgh");
    struct Refused {
        std::string bytes;
        std::string says;
    };
    for (const Refused& refused : {
             Refused{"<html>not a sound</html>", "new.wav is not a WAV file"},
             Refused{whole.substr(0, 12) + "<script>alert(1)</script>", "new.wav is cut short: its \"<scr\" chunk"},
             Refused{whole.substr(0, 12), "new.wav has neither a fmt nor a data chunk"},
             Refused{whole.substr(0, 44 + 4),
                     "new.wav is cut short: its data chunk declares 8 bytes and the file holds 4"},
             Refused{whole.substr(0, 32) + "\x03" + whole.substr(33), "its fmt chunk does not add up"},
             Refused{Sound(testing::Str(testing::Riff(4), "data")),
                     "new.wav cannot take its place: would not come back"},
         }) {
        const Response answer = Swap("sfx/sfx_0001.wav", refused.bytes);
        EXPECT_EQ(answer.status, 422) << answer.body;
        const std::string error = json::parse(answer.body)["error"];
        EXPECT_NE(error.find(refused.says), std::string::npos) << error;
        EXPECT_TRUE(error.ends_with("sfx/sfx_0001.wav keeps the archive's own sound.")) << error;
        EXPECT_EQ(json::parse(Get("/api/run").body)["outcome"], "refused");
    }
    EXPECT_EQ(Output("sfx/sfx_0001.wav"), whole);  // extracted once for the checks, never changed
    EXPECT_EQ(Send(Head("POST", "/api/swap/sfx/sfx_0002"), {}).Get().status, 400);  // not a sound

    const std::string louder = Sound("ABCDEFGHIJKL");
    EXPECT_EQ(Swap("sfx/sfx_0001.wav", louder).status, 200);
    EXPECT_EQ(Output("sfx/sfx_0001.wav"), louder);
    const json status = json::parse(Get("/api/status").body);
    EXPECT_EQ(status["changed"], json({"sfx/sfx_0001.wav"}));
    EXPECT_EQ(status["changed_files"]["sfx/sfx_0001.wav"]["size"], louder.size());
    const Response again = Swap("sfx/sfx_0001.wav", "junk");
    EXPECT_TRUE(json::parse(again.body)["error"].get<std::string>().ends_with("keeps the sound swapped in before."));
    EXPECT_EQ(Post("/api/undo/sfx/sfx_0001.wav").status, 200);
    EXPECT_EQ(Output("sfx/sfx_0001.wav"), whole);
    EXPECT_EQ(json::parse(Get("/api/status").body)["changed"], json::array());
    // No new file is left behind by any of it.
    for (const auto& [path, bytes] : files_.Outputs()) {
        EXPECT_EQ(path.find(".tmp"), std::string::npos) << path;
    }
}

TEST_F(Routes, OneUploadAtATime)
{
    Start();
    Admission first = studio_->Admit(Head("POST", "/api/swap/sfx/sfx_0001.wav"));
    ASSERT_NE(first.upload, nullptr);
    const Admission second = studio_->Admit(Head("POST", "/api/swap/speech/speech_0001.wav"));
    ASSERT_TRUE(second.answer);
    EXPECT_EQ(second.answer->status, 409);
    first.upload.reset();  // the client went away: its file goes with it
    EXPECT_EQ(studio_->Admit(Head("POST", "/api/swap/speech/speech_0001.wav")).upload != nullptr, true);
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

namespace quorvel::studio {
namespace {

// A sound the browser cannot play (IMA ADPCM, longer than the decoder's
// 64 KiB pieces) and one no decoder reads, over the routes that make them
// sounds: played and drawn decoded, exported, and fitted by a new sound of
// another format before it is swapped in.
class SoundRoutes : public Routes {
protected:
    SoundRoutes()
    {
        const auto signal = audio::testing::MakeSignal(1, 22050, kFrames);
        adpcm_ = Text(audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 22050, signal));
        std::string unknown = Sound("abcdefgh");
        unknown[20] = '\x34';  // format tag 0x1234
        unknown[21] = '\x12';
        files_.AddArchive("sfx.pak", testing::Archive().Block(adpcm_).Block(unknown).Final());
        files_.AddArchive("speech.pak", testing::Archive().Block(Sound("abcdefgh")).Final());
    }
    static constexpr std::int64_t kFrames = 70000;
    std::string adpcm_;
};

TEST_F(SoundRoutes, ASoundNoBrowserPlaysIsServedDecodedWholeOrByRange)
{
    Start();
    Response whole = Get("/api/decoded/sfx/sfx_0001.wav");
    ASSERT_EQ(whole.status, 200) << whole.body;
    EXPECT_EQ(whole.content_type, "audio/wav");
    const std::string wav = Body(whole);
    ASSERT_EQ(wav.size(), whole.stream_length);
    const auto served = audio::testing::DecodeSound(Bytes(wav));
    // Without a fact chunk, the sound is every frame its blocks hold.
    const auto stored = audio::testing::DecodeSound(Bytes(adpcm_));
    EXPECT_EQ(served.sf_format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(served.sample_rate, 22050);
    EXPECT_EQ(served.samples, stored.samples);

    RequestHead ranged = Head("GET", "/api/decoded/sfx/sfx_0001.wav");
    ranged.range = "bytes=70000-140001";  // across a piece of decoded samples
    Response part = Send(ranged).Get();
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(Body(part), wav.substr(70000, 70002));

    const json peaks = json::parse(Get("/api/peaks/sfx/sfx_0001.wav?n=50").body);
    EXPECT_EQ(peaks["frames"], stored.frames());
    EXPECT_EQ(peaks["peaks"][0].size(), 50U);
    EXPECT_GT(peaks["peaks"][0][10][1].get<float>(), 0.1F);

    const json spectrogram = json::parse(Get("/api/spectrogram/sfx/sfx_0001.wav?w=100&h=32").body);
    const std::string levels = spectrogram["data"];
    EXPECT_EQ(levels.size(), (100U * 32U + 2) / 3 * 4);  // base64 of one byte a point
    EXPECT_NE(levels.find_first_not_of('A'), std::string::npos);
    EXPECT_EQ(Get("/api/spectrogram/sfx/sfx_0001.wav?w=5000").status, 400);

    // What no decoder reads says why, in the waveform's place and the player's.
    const json none = json::parse(Get("/api/peaks/sfx/sfx_0002.wav").body);
    EXPECT_TRUE(none["peaks"].is_null());
    EXPECT_FALSE(none["error"].get<std::string>().empty());
    EXPECT_FALSE(json::parse(Get("/api/spectrogram/sfx/sfx_0002.wav").body)["error"].is_null());
    EXPECT_EQ(Get("/api/decoded/sfx/sfx_0002.wav").status, 422);
    EXPECT_EQ(Get("/api/preview/sfx/sfx_0001.wav").status, 404);  // nothing fitted yet
}

TEST_F(SoundRoutes, ASoundIsExportedAsADownloadOrAllOfThemAsARun)
{
    Start();
    Response flac = Get("/api/export/sfx/sfx_0001.wav?format=flac");
    ASSERT_EQ(flac.status, 200) << flac.body;
    EXPECT_NE(Header(flac, "Content-Disposition").find("sfx_0001.flac"), std::string::npos);
    const auto exported = audio::testing::DecodeSound(Bytes(Body(flac)));
    EXPECT_EQ(exported.sf_format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_EQ(exported.samples, audio::testing::DecodeSound(Bytes(adpcm_)).samples);
    EXPECT_EQ(Get("/api/export/sfx/sfx_0001.wav?format=aiff").status, 400);
    EXPECT_EQ(Get("/api/export/sfx/sfx_0002.wav?format=wav").status, 422);

    const Response run = Post("/api/export", R"({"format": "wav"})");
    ASSERT_EQ(run.status, 200) << run.body;
    const json answer = json::parse(run.body);
    EXPECT_EQ(answer["exported"], 2);  // the ADPCM sound and the speech
    EXPECT_EQ(answer["failed"], 1);    // the one no decoder reads, named
    ASSERT_EQ(answer["failures"].size(), 1U);
    EXPECT_NE(answer["failures"][0].get<std::string>().find("sfx_0002"), std::string::npos);
    EXPECT_EQ(answer["folder"], "/games/quorvel/export");
    EXPECT_EQ(audio::testing::DecodeSound(Bytes(Output("export/sfx/sfx_0001.wav"))).samples, exported.samples);
    EXPECT_EQ(Post("/api/export", R"({"format": "wav", "paths": ["sfx/nothing"]})").status, 404);
}

TEST_F(SoundRoutes, ANewSoundIsFittedHeardAndOnlyThenSwappedIn)
{
    Start();
    const auto stereo = audio::testing::MakeSignal(2, 44100, 44100, 7);
    const std::string flac = Text(audio::testing::EncodeSound(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, stereo));

    const Response dry = Swap("sfx/sfx_0001.wav", flac, "new.flac", "dry_run=1");
    ASSERT_EQ(dry.status, 200) << dry.body;
    const json report = json::parse(dry.body);
    EXPECT_EQ(report["changed"], false);
    EXPECT_NE(report["report"].get<std::string>().find("-> IMA ADPCM, 1 ch, 22050 Hz"), std::string::npos)
        << report["report"];
    EXPECT_FALSE(files_.Outputs().contains("sfx/sfx_0001.wav"));  // nothing written
    Response preview = Get("/api/preview/sfx/sfx_0001.wav");
    ASSERT_EQ(preview.status, 200);
    const auto heard = audio::testing::DecodeSound(Bytes(Body(preview)));
    EXPECT_EQ(heard.channels, 1);
    EXPECT_NEAR(static_cast<double>(heard.frames()), 22050, 1024);  // one second, at the archive's rate

    ASSERT_EQ(Swap("sfx/sfx_0001.wav", flac, "new.flac", "").status, 200);
    const std::string swapped = Output("sfx/sfx_0001.wav");
    EXPECT_EQ(swapped.substr(20, 2), adpcm_.substr(20, 2));  // the archived sound's format tag
    EXPECT_EQ(json::parse(Get("/api/status").body)["changed"], json({"sfx/sfx_0001.wav"}));

    const Response refused = Swap("sfx/sfx_0001.wav", "<html>not a sound</html>", "page.html", "");
    EXPECT_EQ(refused.status, 422);
    EXPECT_TRUE(json::parse(refused.body)["error"].get<std::string>().ends_with("keeps the sound swapped in before."));
    EXPECT_EQ(Output("sfx/sfx_0001.wav"), swapped);
}

}  // namespace
}  // namespace quorvel::studio

namespace quorvel::studio {
namespace {

// Two sounds of three seconds; a clip cut from the second is sent as a
// body, as the page sends one dropped or recorded.
class FindRoutes : public Routes {
protected:
    FindRoutes()
    {
        for (const std::uint32_t seed : {3U, 4U}) {
            signals_.push_back(audio::testing::MakeTune(1, 22050, 3 * 22050, seed));
        }
        files_.AddArchive(
            "sfx.pak",
            testing::Archive()
                .Block(Text(audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, signals_[0])))
                .Block(Text(audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, signals_[1])))
                .Final());
    }
    std::vector<std::vector<float>> signals_;
};

TEST_F(FindRoutes, AClipFindsItsSoundAndWhereItStartsThroughTheIndexKeptForNextTime)
{
    Start();
    const std::vector<float> cut(signals_[1].begin() + 22050, signals_[1].begin() + 22050 + 33075);
    const std::string clip = Text(audio::testing::EncodeSound(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 22050, cut));
    const Response found = Post("/api/find?name=clip.flac", clip);
    ASSERT_EQ(found.status, 200) << found.body;
    const json answer = json::parse(found.body);
    ASSERT_GE(answer["found"].size(), 1U) << found.body;
    EXPECT_EQ(answer["found"][0]["path"], "sfx/sfx_0002.wav");
    EXPECT_NEAR(answer["found"][0]["offset"].get<double>(), 1.0, 0.05);
    EXPECT_EQ(answer["sounds"], 3);  // and the speech
    EXPECT_EQ(answer["fingerprinted"], 3);
    EXPECT_TRUE(files_.Outputs().contains("quorvel-sound-index.bin"));

    // The index is read back, not made again; the sound is not like the other.
    const json like = json::parse(Get("/api/similar/sfx/sfx_0001.wav").body);
    EXPECT_EQ(like["fingerprinted"], 0);
    EXPECT_EQ(like["similar"], json::array());

    const Response refused = Post("/api/find?name=page.html", "<html>not a sound</html>");
    EXPECT_EQ(refused.status, 422);
    EXPECT_NE(json::parse(refused.body)["error"].get<std::string>().find("page.html"), std::string::npos);
    EXPECT_EQ(Post("/api/find").status, 400);  // no clip
    EXPECT_EQ(Post("/api/find?max=0", clip).status, 400);
}

TEST_F(FindRoutes, TheIndexIsMadeAheadAndGivesWayToTheRunsAsked)
{
    Start(std::nullopt, true);
    // Whether the indexing has begun, is under way or has ended, a run
    // asked for starts at once; the indexing goes on after it.
    const Response extracted = Post("/api/extract", "{}");
    ASSERT_EQ(extracted.status, 200) << extracted.body;
    json index;
    do {
        index = json::parse(Get("/api/index").body);
    } while (index["state"] == "indexing" || index["state"] == "waiting");
    ASSERT_EQ(index["state"], "ready") << index;
    EXPECT_EQ(index["done"], index["total"]);
    EXPECT_TRUE(files_.Outputs().contains("sfx/sfx_0002.wav"));

    const std::vector<float> cut(signals_[0].begin() + 11025, signals_[0].begin() + 11025 + 44100);
    const Response found =
        Post("/api/find", Text(audio::testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, cut)));
    ASSERT_EQ(found.status, 200) << found.body;
    const json answer = json::parse(found.body);
    EXPECT_EQ(answer["fingerprinted"], 0);  // every sound was indexed ahead
    ASSERT_GE(answer["found"].size(), 1U) << found.body;
    EXPECT_EQ(answer["found"][0]["path"], "sfx/sfx_0001.wav");
}

}  // namespace
}  // namespace quorvel::studio

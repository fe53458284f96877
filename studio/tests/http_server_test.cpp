// The HTTP server's own limits, against real sockets: a silent client is
// closed after the idle time, connections past the limit get 503, an
// oversized header 431, and every answer carries the headers that keep
// other sites out. (POSIX sockets: the Windows build runs the same server
// under Wine through the program's own tests.)

#include "studio/http_server.hpp"

#include <unistd.h>

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <vector>

namespace quorvel::studio {
namespace {

// Answers every request with 200 "hello", whatever it is, and trusts its
// connection unless it asks for /stranger.
class HelloHandler final : public RequestHandler {
public:
    Admission Admit(const RequestHead& head) override
    {
        Admission admission;
        admission.body_limit = 16;
        admission.trusted = !head.target.starts_with("/stranger");
        if (!admission.trusted) {
            admission.answer = TextResponse(403, "Forbidden\n");
        }
        return admission;
    }
    void Handle(const RequestHead& head, std::string /*body*/, std::unique_ptr<UploadFile> /*upload*/,
                Reply reply) override
    {
        Response response = TextResponse(200, "hello " + head.target);
        reply(std::move(response));
    }
};

class Client {
public:
    Client(int family, std::uint16_t port) : fd_(::socket(family, SOCK_STREAM, 0))
    {
        timeval limit{.tv_sec = 20, .tv_usec = 0};  // a hung server fails the test instead of hanging it
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (family == AF_INET) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        } else {
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(port);
            address.sin6_addr = in6addr_loopback;
            connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        }
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }
    void Send(const std::string& bytes)
    {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Everything until the server closes the connection; "TIMEOUT" if it never does.
    std::string ReadToEnd()
    {
        std::string all;
        char piece[4096];
        for (;;) {
            const ssize_t got = ::recv(fd_, piece, sizeof piece, 0);
            if (got == 0) {
                return all;
            }
            if (got < 0) {
                return errno == ECONNRESET ? all : "TIMEOUT";
            }
            all.append(piece, static_cast<std::size_t>(got));
        }
    }
    // One answer's head and body (the answers here carry Content-Length).
    std::string ReadAnswer()
    {
        std::string all;
        char piece[4096];
        while (all.find("\r\n\r\n") == std::string::npos || all.size() < HeadEnd(all) + BodyLength(all)) {
            const ssize_t got = ::recv(fd_, piece, sizeof piece, 0);
            if (got <= 0) {
                break;
            }
            all.append(piece, static_cast<std::size_t>(got));
        }
        return all;
    }

private:
    static std::size_t HeadEnd(const std::string& all) { return all.find("\r\n\r\n") + 4; }
    static std::size_t BodyLength(const std::string& all)
    {
        const auto at = all.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(all.substr(at + 16));
    }

    int fd_;
    bool connected_ = false;
};

class Server : public ::testing::Test {
protected:
    void Serve(ServerLimits limits)
    {
        server_ = std::make_unique<HttpServer>(handler_, 0, limits);
        thread_ = std::thread([this] { server_->Run([this] { return end_.load(); }); });
    }
    void TearDown() override
    {
        end_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::string Get(const std::string& target) const
    {
        return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_->port()) + "\r\n\r\n";
    }

    HelloHandler handler_;
    std::unique_ptr<HttpServer> server_;
    std::thread thread_;
    std::atomic<bool> end_{false};
};

TEST_F(Server, EveryAnswerCarriesTheHeadersThatKeepOtherSitesOut)
{
    Serve({});
    Client client(AF_INET, server_->port());
    ASSERT_TRUE(client.connected());
    client.Send(Get("/x"));
    const std::string answer = client.ReadAnswer();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    for (const std::string& header : std::vector<std::string>{
             "Cache-Control: no-store", "X-Content-Type-Options: nosniff", "Referrer-Policy: no-referrer",
             std::string("Content-Security-Policy: ") + kContentSecurityPolicy}) {
        EXPECT_NE(answer.find(header + "\r\n"), std::string::npos) << header;
    }
    EXPECT_EQ(answer.find("Access-Control-"), std::string::npos);
    EXPECT_TRUE(answer.ends_with("hello /x"));
    // The same connection serves the next request.
    client.Send(Get("/y"));
    EXPECT_TRUE(client.ReadAnswer().ends_with("hello /y"));
}

TEST_F(Server, TheIpv6LoopbackIsServedOnTheSamePortWhereThereIsOne)
{
    Serve({});
    Client client(AF_INET6, server_->port());
    if (!client.connected()) {
        GTEST_SKIP() << "no ::1 here";
    }
    client.Send("GET /six HTTP/1.1\r\nHost: [::1]:" + std::to_string(server_->port()) + "\r\n\r\n");
    EXPECT_TRUE(client.ReadAnswer().ends_with("hello /six"));
}

TEST_F(Server, ASilentClientIsClosedAfterTheIdleTime)
{
    Serve(ServerLimits{.idle = std::chrono::milliseconds(200)});
    Client silent(AF_INET, server_->port());
    ASSERT_TRUE(silent.connected());
    EXPECT_EQ(silent.ReadToEnd(), "");  // closed by the server, with nothing said
    Client slow(AF_INET, server_->port());
    slow.Send("GET /half");  // half a request line, then nothing
    EXPECT_EQ(slow.ReadToEnd(), "");
}

TEST_F(Server, TrustedConnectionsPastTheLimitAreAnswered503AndTheOthersStillServed)
{
    Serve(ServerLimits{.connections = 2});
    Client first(AF_INET, server_->port());
    Client second(AF_INET, server_->port());
    // Each is trusted once it has been answered.
    first.Send(Get("/1"));
    ASSERT_TRUE(first.ReadAnswer().ends_with("hello /1"));
    second.Send(Get("/2"));
    ASSERT_TRUE(second.ReadAnswer().ends_with("hello /2"));
    Client third(AF_INET, server_->port());
    third.Send(Get("/3"));
    const std::string busy = third.ReadToEnd();
    EXPECT_TRUE(busy.starts_with("HTTP/1.1 503 Service Unavailable\r\n")) << busy;
    // Even a 503 carries the headers that keep other sites out.
    EXPECT_NE(busy.find("Content-Security-Policy: "), std::string::npos);
    EXPECT_NE(busy.find("X-Frame-Options: DENY"), std::string::npos);
    first.Send(Get("/again"));
    EXPECT_TRUE(first.ReadAnswer().ends_with("hello /again"));
}

// Connections that never show the token take no slot of the user's: the
// oldest of them makes room for a new one, and each is closed when its
// first request is late.
TEST_F(Server, StrangersCannotLockTheUserOut)
{
    Serve(ServerLimits{.connections = 2, .strangers = 3, .first_request = std::chrono::milliseconds(300)});
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < 10; ++i) {
        silent.push_back(std::make_unique<Client>(AF_INET, server_->port()));
        ASSERT_TRUE(silent.back()->connected());
    }
    Client user(AF_INET, server_->port());
    user.Send(Get("/mine"));
    EXPECT_TRUE(user.ReadAnswer().ends_with("hello /mine"));
    for (const auto& client : silent) {
        EXPECT_EQ(client->ReadToEnd(), "");  // closed, evicted or late, with nothing said
    }
    Client refused(AF_INET, server_->port());
    refused.Send(Get("/stranger"));
    EXPECT_TRUE(refused.ReadToEnd().starts_with("HTTP/1.1 403 Forbidden\r\n"));  // and closed
    user.Send(Get("/still"));
    EXPECT_TRUE(user.ReadAnswer().ends_with("hello /still"));
}

// The idle time is the longest wait for one byte: a request that trickles
// in, byte by byte, each within the idle time, is served whole.
TEST_F(Server, ASlowSteadyRequestIsNotCut)
{
    Serve(ServerLimits{.first_request = std::chrono::seconds(60), .idle = std::chrono::milliseconds(1500)});
    Client slow(AF_INET, server_->port());
    const std::string request =
        "POST /slow HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 10\r\n\r\n" + std::string(10, 'x');
    for (const char byte : request) {
        slow.Send(std::string(1, byte));
        // Paced, not synchronised: this client's slowness is what is tested.
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    EXPECT_TRUE(slow.ReadAnswer().ends_with("hello /slow"));
}

TEST_F(Server, AnOversizedHeaderIs431AndABodyPastTheRoutesLimit413)
{
    Serve(ServerLimits{.header_bytes = 1024});
    Client big_header(AF_INET, server_->port());
    big_header.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(2000, 'a') + "\r\n\r\n");
    EXPECT_TRUE(big_header.ReadToEnd().starts_with("HTTP/1.1 431 ")) << "header";
    Client big_body(AF_INET, server_->port());
    big_body.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 17\r\n\r\n" + std::string(17, 'b'));
    EXPECT_TRUE(big_body.ReadToEnd().starts_with("HTTP/1.1 413 ")) << "body";
    Client chunked(AF_INET, server_->port());
    chunked.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n20\r\n" +
                 std::string(32, 'c') + "\r\n0\r\n\r\n");
    EXPECT_TRUE(chunked.ReadToEnd().starts_with("HTTP/1.1 413 ")) << "chunked body";
}

TEST(ServerStart, APortInUseFailsNamingThePort)
{
    HelloHandler handler;
    const HttpServer first(handler, 0);
    try {
        const HttpServer second(handler, first.port());
        FAIL() << "a second server on the same port started";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("port " + std::to_string(first.port())), std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace quorvel::studio

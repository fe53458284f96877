// The only file of the program that includes Boost.Beast and Boost.Asio:
// they take long to compile, so they are compiled here, once.

#include "studio/http_server.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel::studio {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr std::size_t kPieceSize = 1 << 16;
constexpr std::size_t kHeaderPiece = 4096;
constexpr std::chrono::milliseconds kPollInterval{50};

// A body held in memory, read as a stream like any other.
class StringSource final : public ByteSource {
public:
    explicit StringSource(std::string text) : text_(std::move(text)) {}
    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t count = std::min(buffer.size(), text_.size() - at_);
        std::memcpy(buffer.data(), text_.data() + at_, count);
        at_ += count;
        return count;
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

std::optional<std::string> Field(const http::request_header<>& header, http::field name)
{
    const auto found = header.find(name);
    if (found == header.end()) {
        return std::nullopt;
    }
    return std::string(found->value());
}

void AddCommonHeaders(http::response_header<>& header)
{
    header.set(http::field::cache_control, "no-store");
    header.set("X-Content-Type-Options", "nosniff");
    header.set("Referrer-Policy", "no-referrer");
    header.set("X-Frame-Options", "DENY");
    header.set("Cross-Origin-Resource-Policy", "same-origin");
    header.set("Content-Security-Policy", kContentSecurityPolicy);
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, RequestHandler& handler, const ServerLimits& limits,
            std::shared_ptr<std::atomic<std::size_t>> trusted)
        : stream_(std::move(socket)),
          handler_(handler),
          limits_(limits),
          trusted_count_(std::move(trusted)),
          first_request_by_(std::chrono::steady_clock::now() + limits.first_request)
    {
    }
    ~Session()
    {
        if (trusted_) {
            --*trusted_count_;
        }
    }

    void Start() { ReadHeader(); }
    bool trusted() const { return trusted_; }
    // A stranger closed to make room for another (on the server's thread).
    void Close()
    {
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

private:
    // Every read waits at most the idle time for its bytes; a stranger's
    // reads also end at its deadline for a first request.
    void ExpireReads()
    {
        const auto idle_end = std::chrono::steady_clock::now() + limits_.idle;
        stream_.expires_at(trusted_ ? idle_end : std::min(idle_end, first_request_by_));
    }

    void ReadHeader()
    {
        parser_.emplace();
        parser_->header_limit(limits_.header_bytes);
        // The limit is the route's, set once the head is known; the parser
        // would otherwise refuse a Content-Length before the route is seen.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        body_.clear();
        upload_.reset();
        ReadHeaderSome();
    }

    // The header a read at a time, so that the idle time runs between
    // bytes, not over the whole header: the socket's bytes are read here and
    // handed to the parser, which waits for the whole header before it
    // parses any of it. Bytes of a next request already read are parsed first.
    void ReadHeaderSome()
    {
        if (buffer_.size() > 0) {
            return ParseHeader();
        }
        ExpireReads();
        stream_.async_read_some(buffer_.prepare(kHeaderPiece),
                                [self = shared_from_this()](error_code ec, std::size_t got) {
                                    if (ec) {
                                        return self->OnHeader(ec);
                                    }
                                    self->buffer_.commit(got);
                                    self->ParseHeader();
                                });
    }

    void ParseHeader()
    {
        error_code ec;
        buffer_.consume(parser_->put(buffer_.data(), ec));
        if (ec == http::error::need_more && !parser_->is_header_done()) {
            if (buffer_.size() > limits_.header_bytes) {
                return OnHeader(http::error::header_limit);
            }
            ExpireReads();
            stream_.async_read_some(buffer_.prepare(kHeaderPiece),
                                    [self = shared_from_this()](error_code read_ec, std::size_t got) {
                                        if (read_ec) {
                                            return self->OnHeader(read_ec);
                                        }
                                        self->buffer_.commit(got);
                                        self->ParseHeader();
                                    });
            return;
        }
        OnHeader(ec == http::error::need_more ? error_code{} : ec);
    }

    void OnHeader(error_code ec)
    {
        if (ec == http::error::header_limit) {
            return Refuse(431, "the request's header is too large\n");
        }
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::operation_aborted ||
            ec == asio::error::connection_reset || ec == asio::error::eof) {
            return Close();
        }
        if (ec) {
            return Refuse(400, "malformed request\n");
        }
        const auto& header = parser_->get().base();
        head_ = RequestHead{.method = std::string(header.method_string()),
                            .target = std::string(header.target()),
                            .host = Field(header, http::field::host),
                            .origin = Field(header, http::field::origin),
                            .range = Field(header, http::field::range)};
        Admission admission = handler_.Admit(head_);
        if (admission.trusted && !trusted_) {
            if (trusted_count_->load() >= limits_.connections) {
                return Refuse(503, "too many connections\n");
            }
            trusted_ = true;
            ++*trusted_count_;
        }
        if (admission.answer) {
            // Its body, if any, is never read: the connection ends after the
            // answer, and a stranger's at once.
            keep_alive_ = trusted_ && parser_->keep_alive() && parser_->is_done();
            return Send(std::move(*admission.answer));
        }
        if (!trusted_) {
            return Refuse(403, "Forbidden\n");
        }
        const auto length = parser_->content_length();
        if (length && *length > admission.body_limit) {
            return Refuse(413, "the request's body is too large\n");
        }
        parser_->body_limit(admission.body_limit);
        upload_ = std::move(admission.upload);
        keep_alive_ = parser_->keep_alive();
        if (parser_->is_done()) {
            return Dispatch();
        }
        ReadBody();
    }

    // The body a read at a time: a slow, steady upload is never cut.
    void ReadBody()
    {
        parser_->get().body().data = piece_.data();
        parser_->get().body().size = piece_.size();
        ExpireReads();
        http::async_read_some(stream_, buffer_, *parser_,
                              [self = shared_from_this()](error_code ec, std::size_t) { self->OnBody(ec); });
    }

    void OnBody(error_code ec)
    {
        if (ec == http::error::need_buffer) {
            ec = {};
        }
        if (ec == http::error::body_limit) {
            upload_.reset();
            return Refuse(413, "the request's body is too large\n");
        }
        if (ec) {
            // The client went away or broke the body off: whatever of it
            // arrived is dropped (an upload's temporary file with it).
            upload_.reset();
            return Close();
        }
        const std::size_t got = piece_.size() - parser_->get().body().size;
        try {
            if (upload_) {
                upload_->Write(std::as_bytes(std::span(piece_.data(), got)));
            } else {
                body_.append(piece_.data(), got);
            }
            if (!parser_->is_done()) {
                return ReadBody();
            }
            if (upload_) {
                upload_->Finish();
            }
        } catch (const std::exception& error) {
            upload_.reset();
            keep_alive_ = false;
            Response response;
            response.status = 500;
            response.content_type = "text/plain; charset=utf-8";
            response.body = std::string(error.what()) + "\n";
            return Send(std::move(response));
        }
        Dispatch();
    }

    void Dispatch()
    {
        auto self = shared_from_this();
        handler_.Handle(head_, std::move(body_), std::move(upload_), [self](Response response) {
            auto held = std::make_shared<Response>(std::move(response));
            asio::post(self->stream_.get_executor(), [self, held] { self->Send(std::move(*held)); });
        });
    }

    void Refuse(unsigned status, std::string text)
    {
        keep_alive_ = false;
        Response response;
        response.status = static_cast<int>(status);
        response.content_type = "text/plain; charset=utf-8";
        response.body = std::move(text);
        if (status == 503) {
            response.headers.emplace_back("Retry-After", "1");
        }
        Send(std::move(response));
    }

    void Send(Response response)
    {
        response_.emplace();
        response_->result(static_cast<unsigned>(response.status));
        response_->version(11);
        AddCommonHeaders(response_->base());
        response_->set(http::field::content_type, response.content_type);
        for (const auto& [name, value] : response.headers) {
            response_->set(name, value);
        }
        response_->keep_alive(keep_alive_);
        if (response.stream) {
            source_ = std::move(response.stream);
            remaining_ = response.stream_length;
        } else {
            remaining_ = response.body.size();
            source_ = std::make_unique<StringSource>(std::move(response.body));
        }
        response_->content_length(remaining_);
        after_sent_ = std::move(response.after_sent);
        response_->body().data = nullptr;
        response_->body().more = true;
        serializer_.emplace(*response_);
        stream_.expires_after(limits_.idle);
        http::async_write_header(stream_, *serializer_,
                                 [self = shared_from_this()](error_code ec, std::size_t) { self->WriteNext(ec); });
    }

    void WriteNext(error_code ec)
    {
        if (ec == http::error::need_buffer) {
            ec = {};
        }
        if (ec) {
            return Close();  // the client went away: only this connection ends
        }
        if (serializer_->is_done()) {
            return Sent();
        }
        std::size_t got = 0;
        if (remaining_ > 0) {
            try {
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, out_.size()));
                got = source_->Read(std::as_writable_bytes(std::span(out_.data(), want)));
            } catch (const std::exception&) {
                got = 0;
            }
            if (got == 0) {
                return Close();  // the bytes ended early: a short answer must not look whole
            }
            remaining_ -= got;
        }
        response_->body().data = got == 0 ? nullptr : out_.data();
        response_->body().size = got;
        response_->body().more = remaining_ > 0;
        stream_.expires_after(limits_.idle);
        http::async_write(stream_, *serializer_,
                          [self = shared_from_this()](error_code write_ec, std::size_t) { self->WriteNext(write_ec); });
    }

    void Sent()
    {
        source_.reset();
        serializer_.reset();
        response_.reset();
        if (after_sent_) {
            auto after = std::move(after_sent_);
            after_sent_ = nullptr;
            after();
        }
        if (!keep_alive_) {
            return Close();
        }
        ReadHeader();
    }

    beast::tcp_stream stream_;
    RequestHandler& handler_;
    const ServerLimits& limits_;
    std::shared_ptr<std::atomic<std::size_t>> trusted_count_;
    std::chrono::steady_clock::time_point first_request_by_;
    bool trusted_ = false;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::buffer_body>> parser_;
    RequestHead head_;
    std::string body_;
    std::unique_ptr<UploadFile> upload_;
    bool keep_alive_ = true;
    std::array<char, kPieceSize> piece_{};
    std::array<char, kPieceSize> out_{};
    std::optional<http::response<http::buffer_body>> response_;
    std::optional<http::response_serializer<http::buffer_body>> serializer_;
    std::unique_ptr<ByteSource> source_;
    std::uint64_t remaining_ = 0;
    std::function<void()> after_sent_;
};

}  // namespace

struct HttpServer::Impl {
    Impl(RequestHandler& request_handler, ServerLimits server_limits)
        : handler(request_handler), limits(server_limits), timer(context)
    {
    }

    void Listen(const tcp::endpoint& endpoint)
    {
        tcp::acceptor acceptor(context);
        acceptor.open(endpoint.protocol());
        if (endpoint.protocol() == tcp::v6()) {
            acceptor.set_option(asio::ip::v6_only(true));
        }
        acceptor.bind(endpoint);
        acceptor.listen(asio::socket_base::max_listen_connections);
        acceptors.push_back(std::move(acceptor));
    }

    void Accept(tcp::acceptor& acceptor)
    {
        acceptor.async_accept([this, &acceptor](error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !acceptor.is_open()) {
                return;
            }
            if (!ec) {
                // An answer goes out as soon as it is written, head and body
                // alike: a kept-alive connection must not wait for the
                // peer's delayed acknowledgement of the head.
                error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                MakeRoomForAStranger();
                auto session = std::make_shared<Session>(std::move(socket), handler, limits, trusted);
                strangers.push_back(session);
                session->Start();
            }
            Accept(acceptor);
        });
    }

    // Strangers that never show the token are closed, the oldest first,
    // rather than keep the user's own connections out.
    void MakeRoomForAStranger()
    {
        std::erase_if(strangers, [](const std::weak_ptr<Session>& stranger) {
            const auto session = stranger.lock();
            return !session || session->trusted();
        });
        while (!strangers.empty() && strangers.size() >= limits.strangers) {
            if (const auto oldest = strangers.front().lock()) {
                oldest->Close();
            }
            strangers.pop_front();
        }
    }

    void Poll(const std::function<bool()>& should_end)
    {
        timer.expires_after(kPollInterval);
        timer.async_wait([this, &should_end](error_code ec) {
            if (ec) {
                return;
            }
            if (should_end()) {
                context.stop();
                return;
            }
            Poll(should_end);
        });
    }

    RequestHandler& handler;
    ServerLimits limits;
    asio::io_context context{1};
    std::vector<tcp::acceptor> acceptors;
    asio::steady_timer timer;
    std::shared_ptr<std::atomic<std::size_t>> trusted = std::make_shared<std::atomic<std::size_t>>(0);
    std::deque<std::weak_ptr<Session>> strangers;
    std::uint16_t port = 0;
};

HttpServer::HttpServer(RequestHandler& handler, std::uint16_t port, ServerLimits limits)
    : impl_(std::make_unique<Impl>(handler, limits))
{
    try {
        impl_->Listen(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
    } catch (const boost::system::system_error& error) {
        throw std::runtime_error("port " + std::to_string(port) + " on 127.0.0.1: " + error.code().message());
    }
    impl_->port = impl_->acceptors.front().local_endpoint().port();
    try {
        impl_->Listen(tcp::endpoint(asio::ip::make_address_v6("::1"), impl_->port));
    } catch (const boost::system::system_error&) {
        // No IPv6 loopback here, or the port is another program's on ::1:
        // the studio is still reached at 127.0.0.1.
    }
}

HttpServer::~HttpServer() = default;

std::uint16_t HttpServer::port() const
{
    return impl_->port;
}

void HttpServer::Run(const std::function<bool()>& should_end)
{
    for (tcp::acceptor& acceptor : impl_->acceptors) {
        impl_->Accept(acceptor);
    }
    impl_->Poll(should_end);
    impl_->context.run();
    error_code ignored;
    for (tcp::acceptor& acceptor : impl_->acceptors) {
        acceptor.close(ignored);
    }
}

}  // namespace quorvel::studio

#include "server.h"

#include "guard.h"
#include "page.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

namespace dio_panel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

// A request's whole header and body, and a live message, at most.
constexpr std::size_t kLimit = std::size_t{8} * 1024;
// Connections at once, pages and calls; more are closed as they come.
constexpr std::size_t kMaxConnections = 256;
// A request, or a live connection's first message, must come whole within.
constexpr auto kRequestTime = std::chrono::seconds(2);

std::string hex(std::uint32_t word)
{
    char t[12];
    std::snprintf(t, sizeof t, "%" PRIx32, word);
    return t;
}

} // namespace

class LiveSession;

struct Server::Shared {
    asio::io_context &io;
    tcp::acceptor acceptor;
    Listen listen;
    Settings board;
    std::vector<std::string> hosts;
    Station *station = nullptr;
    std::size_t connections = 0;
    std::vector<std::weak_ptr<LiveSession>> live;
    State state;
    std::string state_json;

    Shared(asio::io_context &context, Listen l, const Settings &b)
        : io(context), acceptor(context), listen(std::move(l)), board(b)
    {
    }

    void make_state_json()
    {
        const nlohmann::json json{{"type", "state"},
                                  {"do", hex(state.held)},
                                  {"di", hex(state.inputs)},
                                  {"outputs", hex(board.outputs)},
                                  {"inputs", hex(board.inputs)},
                                  {"busy", state.busy},
                                  {"error", state.error},
                                  {"errors", state.errors},
                                  {"maps", state.maps}};
        state_json = json.dump();
    }
};

namespace {

// Counts a connection for as long as it lives.
class Counted {
  public:
    explicit Counted(std::size_t &count) : count_(count) { ++count_; }
    ~Counted() { --count_; }
    Counted(const Counted &) = delete;
    Counted &operator=(const Counted &) = delete;

  private:
    std::size_t &count_;
};

// Every response carries these: nothing from elsewhere runs in the page,
// no frame holds it, nothing is sniffed or kept.
template <class Body> void secure(http::response<Body> &res)
{
    res.set("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    res.set("X-Content-Type-Options", "nosniff");
    res.set(http::field::cache_control, "no-store");
    res.set(http::field::server, "dio-panel");
}

http::response<http::string_body> answer(http::status status, const std::string &type,
                                         std::string body, unsigned version, bool keep_alive)
{
    http::response<http::string_body> res{status, version};
    secure(res);
    res.set(http::field::content_type, type);
    res.body() = std::move(body);
    res.keep_alive(keep_alive);
    res.prepare_payload();
    return res;
}

// {"error": "<why>"}, and {"type": "error", ...} on a live connection.
std::string error_json(const std::string &why, bool live = false)
{
    nlohmann::json j{{"error", why}};
    if (live)
        j["type"] = "error";
    return j.dump();
}

http::response<http::string_body> refuse(http::status status, const std::string &why,
                                         unsigned version)
{
    return answer(status, "application/json", error_json(why), version, false);
}

std::string bearer(const http::request<http::string_body> &req)
{
    const auto field = req[http::field::authorization];
    const std::string value(field.data(), field.size());
    return value.rfind("Bearer ", 0) == 0 ? value.substr(7) : "";
}

} // namespace

// Each session's handlers start its next read or write, which calls them
// back later from the io_context: a chain, never a recursion.
// NOLINTBEGIN(misc-no-recursion)

// A live connection: its first message carries the token; then it gets
// every new state, and may send commands as the calls take them. A page
// that reads slowly gets the latest state, never a queue of old ones.
class LiveSession : public std::enable_shared_from_this<LiveSession> {
  public:
    LiveSession(tcp::socket &&socket, std::shared_ptr<Server::Shared> shared)
        : ws_(std::move(socket)), shared_(std::move(shared)), counted_(shared_->connections),
          deadline_(shared_->io)
    {
    }

    void accept(const http::request<http::string_body> &req)
    {
        ws_.set_option(websocket::stream_base::timeout{std::chrono::seconds(30),
                                                       std::chrono::seconds(30), true});
        ws_.set_option(
            websocket::stream_base::decorator([](websocket::response_type &res) { secure(res); }));
        ws_.read_message_max(kLimit);
        deadline_.expires_after(kRequestTime);
        deadline_.async_wait([self = shared_from_this()](const boost::system::error_code &ec) {
            if (!ec && !self->authorised_)
                beast::get_lowest_layer(self->ws_).close();
        });
        ws_.async_accept(req, [self = shared_from_this()](const boost::system::error_code &ec) {
            if (!ec)
                self->read();
        });
    }

    // Queues @message: the latest state replaces one not yet sent.
    void send_state(const std::string &message)
    {
        pending_state_ = message;
        flush();
    }

    void send_other(const std::string &message)
    {
        if (other_.size() < 8)
            other_.push_back(message);
        flush();
    }

  private:
    void read()
    {
        ws_.async_read(
            in_, [self = shared_from_this()](const boost::system::error_code &ec, std::size_t) {
                if (ec)
                    return;
                self->take(beast::buffers_to_string(self->in_.data()));
                self->in_.consume(self->in_.size());
                self->read();
            });
    }

    void take(const std::string &message)
    {
        if (!authorised_) {
            // {"token": "..."}, as the page sends it first. One refused
            // is closed, at the latest when the deadline comes.
            if (!same_token(token_of(message), shared_->listen.token)) {
                ws_.async_close(websocket::close_code::policy_error,
                                [self = shared_from_this()](const boost::system::error_code &) {});
                return;
            }
            authorised_ = true;
            deadline_.cancel();
            shared_->live.push_back(weak_from_this());
            if (shared_->state.map)
                send_other(*shared_->state.map);
            send_state(shared_->state_json);
            return;
        }
        Command command;
        std::string why = parse_command(message, shared_->board.outputs, command);
        if (why.empty())
            why = shared_->station->submit(command);
        if (!why.empty())
            send_other(error_json(why, true));
    }

    void flush()
    {
        if (writing_ || !authorised_)
            return;
        if (!other_.empty()) {
            out_ = std::move(other_.front());
            other_.erase(other_.begin());
        } else if (!pending_state_.empty()) {
            out_ = std::move(pending_state_);
            pending_state_.clear();
        } else {
            return;
        }
        writing_ = true;
        ws_.text(true);
        ws_.async_write(asio::buffer(out_), [self = shared_from_this()](
                                                const boost::system::error_code &ec, std::size_t) {
            self->writing_ = false;
            if (!ec)
                self->flush();
        });
    }

    websocket::stream<beast::tcp_stream> ws_;
    // Held, not referred to: sessions may outlive the server, as the
    // io_context frees its handlers at the end.
    std::shared_ptr<Server::Shared> shared_;
    Counted counted_;
    asio::steady_timer deadline_;
    beast::flat_buffer in_;
    bool authorised_ = false;
    bool writing_ = false;
    std::string out_;
    std::string pending_state_;
    std::vector<std::string> other_;
};

namespace {

// One connection's requests, each within kRequestTime and kLimit.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(tcp::socket &&socket, std::shared_ptr<Server::Shared> shared)
        : stream_(std::move(socket)), shared_(std::move(shared)), counted_(shared_->connections)
    {
    }

    void read()
    {
        parser_.emplace();
        parser_->header_limit(kLimit);
        parser_->body_limit(kLimit);
        stream_.expires_after(kRequestTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](const boost::system::error_code &ec,
                                                     std::size_t) { self->on_read(ec); });
    }

  private:
    void on_read(const boost::system::error_code &ec)
    {
        if (ec == http::error::body_limit || ec == http::error::header_limit) {
            reply(refuse(ec == http::error::body_limit
                             ? http::status::payload_too_large
                             : http::status::request_header_fields_too_large,
                         "the request is larger than 8 KiB", 11));
            return;
        }
        if (ec) {
            // The end of the connection, a request not whole in time, or
            // one Beast cannot read: closed, and nothing else done.
            beast::error_code ignored;
            stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
            return;
        }
        http::request<http::string_body> req = parser_->release();
        const unsigned version = req.version();
        const auto host = req[http::field::host];
        if (!host_allowed(shared_->hosts, std::string_view(host.data(), host.size()))) {
            reply(refuse(http::status::forbidden, "Host is not this panel", version));
            return;
        }
        if (websocket::is_upgrade(req)) {
            upgrade(req);
            return;
        }
        reply(handle(req));
    }

    bool same_origin(const http::request<http::string_body> &req) const
    {
        const auto origin = req[http::field::origin];
        const auto referer = req[http::field::referer];
        return origin_allowed(shared_->hosts, std::string_view(origin.data(), origin.size()),
                              std::string_view(referer.data(), referer.size()));
    }

    void upgrade(const http::request<http::string_body> &req)
    {
        if (req.target() != "/live") {
            reply(refuse(http::status::not_found, "no such live connection", req.version()));
            return;
        }
        if (!same_origin(req)) {
            reply(refuse(http::status::forbidden, "Origin is not this panel", req.version()));
            return;
        }
        stream_.expires_never();
        std::make_shared<LiveSession>(stream_.release_socket(), shared_)->accept(req);
    }

    http::response<http::string_body> handle(const http::request<http::string_body> &req)
    {
        const unsigned v = req.version();
        const std::string target(req.target().data(), req.target().size());
        const bool get = req.method() == http::verb::get || req.method() == http::verb::head;
        if (target == "/" || target == "/index.html" || target == "/panel.js" ||
            target == "/panel.css") {
            if (!get)
                return refuse(http::status::method_not_allowed, "only GET", v);
            const Asset &a = asset(target == "/" ? "/index.html" : target);
            return answer(http::status::ok, a.type, std::string(a.data, a.size), v,
                          req.keep_alive());
        }
        if (target != "/state" && target != "/command" && target.rfind("/command?", 0) != 0)
            return refuse(http::status::not_found, "no such page", v);
        // Every call that reads or changes state carries the token.
        const std::string token = bearer(req);
        if (token.empty())
            return refuse(http::status::unauthorized, "the token is missing", v);
        if (!same_token(token, shared_->listen.token))
            return refuse(http::status::forbidden, "the token is wrong", v);
        if (target == "/state") {
            if (!get)
                return refuse(http::status::method_not_allowed, "only GET", v);
            return answer(http::status::ok, "application/json", shared_->state_json, v,
                          req.keep_alive());
        }
        // Only a POST of JSON from the panel's own page changes state.
        if (req.method() != http::verb::post || target != "/command")
            return refuse(http::status::method_not_allowed, "only POST, to /command", v);
        if (!same_origin(req))
            return refuse(http::status::forbidden, "Origin is not this panel", v);
        const auto type = req[http::field::content_type];
        const std::string media(type.data(), type.size());
        if (media != "application/json" && media.rfind("application/json;", 0) != 0)
            return refuse(http::status::unsupported_media_type, "only application/json", v);
        Command command;
        const std::string why = parse_command(req.body(), shared_->board.outputs, command);
        if (!why.empty())
            return refuse(http::status::bad_request, why, v);
        const std::string refused = shared_->station->submit(command);
        if (!refused.empty())
            return refuse(http::status::conflict, refused, v);
        return answer(http::status::accepted, "application/json", "{\"ok\":true}", v,
                      req.keep_alive());
    }

    void reply(http::response<http::string_body> res)
    {
        response_ = std::move(res);
        const bool close = !response_.keep_alive();
        stream_.expires_after(kRequestTime);
        http::async_write(
            stream_, response_,
            [self = shared_from_this(), close](const boost::system::error_code &ec, std::size_t) {
                if (ec || close) {
                    beast::error_code ignored;
                    self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                    return;
                }
                self->read();
            });
    }

    beast::tcp_stream stream_;
    std::shared_ptr<Server::Shared> shared_;
    Counted counted_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> response_;
};

void accept_next(const std::shared_ptr<Server::Shared> &shared)
{
    shared->acceptor.async_accept(
        shared->io, [shared](const boost::system::error_code &ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted)
                return;
            if (!ec && shared->connections < kMaxConnections) {
                // Small messages go at once: Nagle's wait for an ACK that
                // the page delays would hold each state back some 40 ms.
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                std::make_shared<HttpSession>(std::move(socket), shared)->read();
            }
            // Past the limit the socket closes here, as it goes.
            accept_next(shared);
        });
}

// NOLINTEND(misc-no-recursion)

} // namespace

Server::Server(asio::io_context &io, const Listen &listen, const Settings &board)
    : shared_(std::make_shared<Shared>(io, listen, board))
{
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(listen.address, ec);
    if (ec)
        throw std::runtime_error("--listen: '" + listen.address + "' is not an IP address");
    const tcp::endpoint endpoint(address, listen.port);
    tcp::acceptor &a = shared_->acceptor;
    if (a.open(endpoint.protocol(), ec), ec)
        throw std::runtime_error("cannot listen: " + ec.message());
#if !defined(_WIN32)
    // On Windows this would let another program take the port too.
    a.set_option(asio::socket_base::reuse_address(true), ec);
#endif
    if (a.bind(endpoint, ec), ec)
        throw std::runtime_error("cannot listen on " + listen.address + " port " +
                                 std::to_string(listen.port) + ": " + ec.message());
    if (a.listen(asio::socket_base::max_listen_connections, ec), ec)
        throw std::runtime_error("cannot listen: " + ec.message());
    shared_->hosts = own_hosts(listen.address, port());
    shared_->make_state_json();
}

Server::~Server()
{
    boost::system::error_code ignored;
    shared_->acceptor.close(ignored);
}

unsigned short Server::port() const
{
    return shared_->acceptor.local_endpoint().port();
}

void Server::start(Station &station)
{
    shared_->station = &station;
    accept_next(shared_);
}

void Server::publish(const State &state)
{
    Shared &s = *shared_;
    const bool new_map = state.maps != s.state.maps && state.map;
    s.state = state;
    s.make_state_json();
    std::vector<std::weak_ptr<LiveSession>> still;
    for (const std::weak_ptr<LiveSession> &w : s.live) {
        if (const std::shared_ptr<LiveSession> live = w.lock()) {
            if (new_map)
                live->send_other(*state.map);
            live->send_state(s.state_json);
            still.push_back(w);
        }
    }
    s.live.swap(still);
}

} // namespace dio_panel

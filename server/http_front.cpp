// All of Boost.Beast lives here: it compiles slowly, and nothing else needs it.
#include "server/http_front.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "wire/exchange.h"

namespace storeserver {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// What a closing connection still reads, so that a client sending a body we
// refused sees our answer instead of a reset.
constexpr std::size_t kMaxDrainBytes = 8 * 1024 * 1024;
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr auto kAcceptRetry = std::chrono::milliseconds(50);
constexpr std::string_view kTooManyConnections =
    "The store server has too many connections open; try again in a moment.";
constexpr std::string_view kTooManyFromAddress =
    "This address has too many connections open to the store server; try again in a moment.";

// A connection its I/O thread's sweeper closes once it has waited for its
// client past its deadline.
class Expiring {
 public:
  virtual ~Expiring() = default;
  virtual void expire() = 0;
  // Never while no client is awaited (the request is being answered).
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// One coarse timer per I/O thread instead of a deadline timer armed for every
// read and write: that cost two system calls an exchange. A connection is let
// go within one period after its deadline.
class Sweeper {
 public:
  Sweeper(net::io_context& context, std::chrono::milliseconds idleTimeout,
          std::function<std::chrono::steady_clock::time_point()> now)
      : timer_(context), period_(std::clamp(idleTimeout / 4, kMinSweepPeriod, kMaxSweepPeriod)), now_(std::move(now)) {}

  // Only from this sweeper's thread.
  void watch(std::weak_ptr<Expiring> connection) { watched_.push_back(std::move(connection)); }

  void start() {
    timer_.expires_after(period_);
    timer_.async_wait([this](beast::error_code ec) {
      if (ec) return;
      sweep();
      start();
    });
  }

 private:
  static constexpr std::chrono::milliseconds kMinSweepPeriod{10};
  static constexpr std::chrono::milliseconds kMaxSweepPeriod{1000};

  void sweep() {
    const auto now = now_();
    std::erase_if(watched_, [now](const std::weak_ptr<Expiring>& watched) {
      const auto connection = watched.lock();
      if (!connection) return true;
      if (connection->deadline <= now) connection->expire();
      return false;
    });
  }

  net::steady_timer timer_;
  const std::chrono::milliseconds period_;
  const std::function<std::chrono::steady_clock::time_point()> now_;
  std::vector<std::weak_ptr<Expiring>> watched_;
};

// The sweeper of the I/O thread running here.
thread_local Sweeper* currentSweeper = nullptr;

struct Shared {
  FrontOptions options;
  RequestHandler handler;
  mutable std::atomic<std::size_t> openConnections{0};  // sessions counted against maxConnections
  mutable std::mutex addressesMutex{};
  // Sessions counted against maxConnectionsPerAddress, by address; an address with none is not kept.
  mutable std::unordered_map<std::string, std::size_t> openFrom{};
};

// Who is at the other end of a connection.
struct Peer {
  std::string address;           // as text, an IPv4 client of an IPv6 socket as IPv4
  bool trustedBalancer = false;  // its X-Forwarded-For names the client
  bool counted = false;          // against the address's share of the connections
};

// The index of the front's I/O thread running here, and its context; each
// I/O thread serves one front.
thread_local unsigned currentIoThread = 0;
thread_local net::io_context* currentContext = nullptr;

// What a session does once it speaks HTTP (after any TLS handshake): serve,
// or answer that the server, or the share of the peer's address, is full.
enum class Admission { Serve, RefuseFull, RefuseAddressFull };

// One connection, plain (beast::tcp_stream) or TLS (TlsStream) alike; the
// socket always belongs to the TCP layer underneath.
template <class Stream>
class Session : public Expiring, public std::enable_shared_from_this<Session<Stream>> {
 public:
  Session(tcp::socket&& socket, std::shared_ptr<const Shared> shared, Admission admission,
          Peer peer) requires std::same_as<Stream, beast::tcp_stream>
      : stream_(std::move(socket)), peer_(std::move(peer)), shared_(std::move(shared)), admission_(admission) {}
  Session(tcp::socket&& socket, ssl::context& tls, std::shared_ptr<const Shared> shared, Admission admission,
          Peer peer) requires std::same_as<Stream, TlsStream>
      : stream_(std::move(socket), tls), peer_(std::move(peer)), shared_(std::move(shared)), admission_(admission) {}
  ~Session() {
    if (admission_ == Admission::Serve) --shared_->openConnections;
    if (peer_.counted) {
      std::lock_guard lock(shared_->addressesMutex);
      if (const auto it = shared_->openFrom.find(peer_.address); it != shared_->openFrom.end() && --it->second == 0)
        shared_->openFrom.erase(it);
    }
  }

  void start() {
    net::dispatch(stream_.get_executor(), [self = this->shared_from_this()] {
      currentSweeper->watch(self);
      if constexpr (std::same_as<Stream, TlsStream>) self->handshake();
      else self->begin();
    });
  }

 private:
  const FrontOptions& options() const { return shared_->options; }
  beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }
  auto shared_from_this() { return std::enable_shared_from_this<Session<Stream>>::shared_from_this(); }

  void expire() override {
    deadline = std::chrono::steady_clock::time_point::max();
    close();  // its pending operation ends with an error, which ends the session
  }

  void awaitClient(std::chrono::steady_clock::duration patience) { deadline = options().idleClock() + patience; }

  void handshake() {
    awaitClient(options().idleTimeout);
    stream_.async_handshake(ssl::stream_base::server, [self = shared_from_this()](beast::error_code ec) {
      // A client that does not trust us, or does not speak TLS, is simply let go.
      if (ec) return self->close();
      self->begin();
    });
  }

  void begin() {
    // Answered before its request is read: the refusal costs no parsing, and
    // the lingering close still lets the client send it without a reset.
    if (admission_ != Admission::Serve)
      return answerAndClose(
          503, std::string(admission_ == Admission::RefuseFull ? kTooManyConnections : kTooManyFromAddress));
    readHeader();
  }

  void readHeader() {
    // A fresh parser per request: Beast's limits and state belong to one message.
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(options().maxHeaderBytes));
    // No limit while the header is read: the path's own applies once the path is known.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    awaitClient(options().idleTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            beast::bind_front_handler(&Session::onHeader, shared_from_this()));
  }

  void onHeader(beast::error_code ec, std::size_t) {
    if (ec) return onReadError(ec);
    const auto& request = parser_->get();
    version_ = request.version();
    keepAlive_ = request.keep_alive();
    const std::size_t bodyLimit = bodyLimitFor(request.target());
    if (parser_->content_length().value_or(0) > bodyLimit) return onReadError(http::error::body_limit);
    parser_->body_limit(bodyLimit);
    const auto expect = request[http::field::expect];
    if (!expect.empty()) {
      if (!beast::iequals(expect, "100-continue"))
        return answerAndClose(417, "The request's Expect header is not understood.");
      // Without this answer a client waits a second before it sends the body.
      if (!parser_->is_done()) return writeContinue();
    }
    readBody();
  }

  bool takesLargeBody(std::string_view target) const {
    return !options().largeBodyPath.empty() && target.substr(0, target.find('?')) == options().largeBodyPath;
  }
  // The refusal is then the handler's to word, for the person who chose the file or filled in the form.
  bool answersTooLargeItself(std::string_view target) const {
    const auto& asked = options().answersTooLargeItself;
    return takesLargeBody(target) || (asked && asked(target.substr(0, target.find('?'))));
  }
  std::size_t bodyLimitFor(std::string_view target) const {
    return takesLargeBody(target) ? options().maxLargeBodyBytes : options().maxBodyBytes;
  }

  void writeContinue() {
    continue_.emplace(http::status::continue_, version_);
    awaitClient(options().idleTimeout);
    http::async_write(stream_, *continue_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      self->readBody();
    });
  }

  void readBody() {
    if (parser_->is_done()) return handOver();
    awaitClient(options().idleTimeout);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->onReadError(ec);
      self->handOver();
    });
  }

  void onReadError(beast::error_code ec) {
    if (ec == http::error::header_limit)
      return answerAndClose(
          431, "The request's header is larger than " + std::to_string(options().maxHeaderBytes) + " bytes.");
    if (ec == http::error::body_limit && answersTooLargeItself(parser_->get().target())) {
      keepAlive_ = false;
      return handOver(true);
    }
    if (ec == http::error::body_limit)
      return answerAndClose(413, "The request's body is larger than " +
                                     std::to_string(bodyLimitFor(parser_->get().target())) + " bytes.");
    // Gone, idle or cut off: nobody is waiting for an answer.
    if (ec == http::error::end_of_stream || ec == http::error::partial_message || ec == net::error::operation_aborted ||
        ec == net::error::eof || ec == net::error::connection_reset)
      return close();
    answerAndClose(400, "The request is not valid HTTP.");
  }

  // bodyTooLarge: the body was left unread, or read in part, as it passed the path's limit.
  void handOver(bool bodyTooLarge = false) {
    deadline = std::chrono::steady_clock::time_point::max();
    auto message = parser_->release();
    const std::optional<std::string> client = clientAddress(message);
    if (!client)
      return answerAndClose(400, "The balancer's X-Forwarded-For header does not end with the client's IP address.");
    HttpRequest request{std::string(message.method_string()),
                        std::string(message.target()),
                        std::string(message[http::field::content_type]),
                        std::string(message[http::field::cookie]),
                        std::string(message[http::field::host]),
                        std::string(message[http::field::origin]),
                        std::string(message[http::field::referer]),
                        bodyTooLarge ? std::string() : std::move(message.body()),
                        *client,
                        currentIoThread,
                        bodyTooLarge};
    auto self = shared_from_this();
    Responder respond = [self](HttpResponse response) {
      net::dispatch(self->stream_.get_executor(),
                    [self, response = std::move(response)]() mutable { self->write(std::move(response)); });
    };
    try {
      shared_->handler(std::move(request), std::move(respond));
    } catch (const std::exception&) {
      answerAndClose(500, "The store server failed while answering; try again.");
    }
  }

  // The peer's address, or through a trusted balancer the client's; nullopt
  // when the balancer named none.
  std::optional<std::string> clientAddress(const http::request<http::string_body>& message) const {
    if (!peer_.trustedBalancer) return peer_.address;
    std::optional<std::string_view> last;
    const auto [first, end] = message.equal_range("X-Forwarded-For");
    for (auto line = first; line != end; ++line) last = std::string_view(line->value().data(), line->value().size());
    // The balancer's own requests, as its health checks, name nobody else.
    if (!last) return peer_.address;
    const auto forwarded = forwardedClient(*last);
    if (!forwarded) return std::nullopt;
    return forwarded->to_string();
  }

  void answerAndClose(int status, const std::string& sentence) {
    keepAlive_ = false;
    write({status, wire::errorJson(sentence), {}});
  }

  void write(HttpResponse answer) {
    response_.emplace();
    response_->version(version_);
    response_->result(static_cast<unsigned>(answer.status));
    response_->set(http::field::server, "storeserver");
    response_->set(http::field::content_type, "application/json");
    for (const auto& [name, value] : answer.headers) response_->set(name, value);
    response_->body() = std::move(answer.body);
    response_->keep_alive(keepAlive_);
    response_->prepare_payload();
    awaitClient(options().idleTimeout);
    http::async_write(stream_, *response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      if (!self->keepAlive_) return self->lingerAndClose();
      self->readHeader();
    });
  }

  void lingerAndClose() {
    beast::error_code ec;
    lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return close();
    awaitClient(kDrainTime);
    drain();
  }

  void drain() {
    // Raw bytes from under TLS: only the end of the stream matters here.
    lowest().async_read_some(net::buffer(drainBuffer_),
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                               self->drained_ += n;
                               if (ec || self->drained_ > kMaxDrainBytes) return self->close();
                               self->drain();
                             });
  }

  void close() {
    beast::error_code ec;
    lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
    lowest().close();
  }

  Stream stream_;
  const Peer peer_;
  std::shared_ptr<const Shared> shared_;
  const Admission admission_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::response<http::empty_body>> continue_;
  std::optional<http::response<http::string_body>> response_;
  unsigned version_ = 11;
  bool keepAlive_ = true;
  std::array<char, 4096> drainBuffer_{};
  std::size_t drained_ = 0;
};

class Front final : public HttpFront {
 public:
  Front(const FrontOptions& options, RequestHandler handler)
      : shared_(new Shared{options, std::move(handler)}),
        contexts_(makeContexts(std::max(1u, options.ioThreads))),
        acceptor_(*contexts_[0]),
        retry_(*contexts_[0]) {
    for (auto& context : contexts_) {
      work_.push_back(net::make_work_guard(*context));
      sweepers_.push_back(std::make_unique<Sweeper>(*context, options.idleTimeout, options.idleClock));
    }
  }

  ~Front() override { stop(); }

  bool listen(std::string& error) {
    const FrontOptions& o = shared_->options;
    if (!loadTls(o, error)) return false;
    const std::string where = o.address + ":" + std::to_string(o.port);
    beast::error_code ec;
    const auto address = net::ip::make_address(o.address, ec);
    if (ec) {
      error = "The listen address " + o.address + " is not an IP address.";
      return false;
    }
    const tcp::endpoint endpoint(address, o.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    // A short backlog stalls bursts of new connections for seconds.
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      error = "Cannot listen on " + where + ": " + ec.message() + ".";
      return false;
    }
    port_ = acceptor_.local_endpoint().port();
    return true;
  }

  void run() {
    net::dispatch(*contexts_[0], [this] { accept(); });
    for (unsigned i = 0; i < contexts_.size(); ++i)
      threads_.emplace_back([this, i] {
        currentIoThread = i;
        currentContext = contexts_[i].get();
        currentSweeper = sweepers_[i].get();
        currentSweeper->start();
        contexts_[i]->run();
      });
  }

  std::uint16_t port() const override { return port_; }
  std::size_t openConnections() const override { return shared_->openConnections.load(); }

  void stopAccepting() override {
    net::dispatch(*contexts_[0], [this] {
      beast::error_code ec;
      acceptor_.close(ec);
      retry_.cancel();
    });
  }

  void stop() override {
    if (threads_.empty()) return;
    stopAccepting();
    work_.clear();
    for (auto& context : contexts_) context->stop();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

 private:
  // Each I/O thread runs a context of its own, so a connection's handlers,
  // its reads of the database among them, never hop between threads and no
  // thread is woken for another's work. Connections are dealt out in turn.
  static std::vector<std::unique_ptr<net::io_context>> makeContexts(unsigned count) {
    std::vector<std::unique_ptr<net::io_context>> contexts;
    for (unsigned i = 0; i < count; ++i) contexts.push_back(std::make_unique<net::io_context>(1));
    return contexts;
  }

  void accept() {
    net::io_context& next = *contexts_[nextContext_++ % contexts_.size()];
    acceptor_.async_accept(next, beast::bind_front_handler(&Front::onAccept, this));
  }

  void onAccept(beast::error_code ec, tcp::socket socket) {
    if (!acceptor_.is_open()) return;
    if (ec) {
      // Out of descriptors and the like: wait a little rather than spin.
      retry_.expires_after(kAcceptRetry);
      retry_.async_wait([this](beast::error_code waitError) {
        if (!waitError && acceptor_.is_open()) accept();
      });
      return;
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);  // or each answer waits for a delayed ACK
    beast::error_code gone;
    const auto endpoint = socket.remote_endpoint(gone);
    if (gone) return accept();
    Peer peer{plainAddress(endpoint.address()).to_string(),
              anyContains(shared_->options.trustedBalancers, endpoint.address())};
    const Admission admission = admit(peer);
    if (tls_)
      std::make_shared<Session<TlsStream>>(std::move(socket), *tls_, shared_, admission, std::move(peer))->start();
    else std::make_shared<Session<beast::tcp_stream>>(std::move(socket), shared_, admission, std::move(peer))->start();
    accept();
  }

  // Counts a new connection against the cap and its address's share, unless
  // either is full. Only the accepting thread adds to the counts, so they
  // never pass their limits.
  Admission admit(Peer& peer) {
    const FrontOptions& o = shared_->options;
    if (shared_->openConnections.load() >= o.maxConnections) return Admission::RefuseFull;
    if (!peer.trustedBalancer && o.maxConnectionsPerAddress > 0) {
      std::lock_guard lock(shared_->addressesMutex);
      std::size_t& open = shared_->openFrom[peer.address];
      if (open >= o.maxConnectionsPerAddress) return Admission::RefuseAddressFull;
      ++open;
      peer.counted = true;
    }
    ++shared_->openConnections;
    return Admission::Serve;
  }

  bool loadTls(const FrontOptions& o, std::string& error) {
    if (o.tlsCertificate.empty() && o.tlsKey.empty()) return true;
    if (o.tlsCertificate.empty() || o.tlsKey.empty()) {
      error = "TLS needs both a certificate file and a key file.";
      return false;
    }
    tls_.emplace(ssl::context::tls_server);
    beast::error_code ec;
    tls_->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                          ssl::context::single_dh_use,
                      ec);
    SSL_CTX_set_min_proto_version(tls_->native_handle(), TLS1_2_VERSION);
    tls_->use_certificate_chain_file(o.tlsCertificate, ec);
    if (ec) {
      error = "Cannot use the TLS certificate " + o.tlsCertificate + ": " + ec.message() + ".";
      return false;
    }
    tls_->use_private_key_file(o.tlsKey, ssl::context::pem, ec);
    if (!ec && SSL_CTX_check_private_key(tls_->native_handle()) != 1)
      ec = beast::error_code(static_cast<int>(::ERR_get_error()), net::error::get_ssl_category());
    if (ec) {
      error = "Cannot use the TLS key " + o.tlsKey + " with that certificate: " + ec.message() + ".";
      return false;
    }
    return true;
  }

  std::shared_ptr<const Shared> shared_;
  std::vector<std::unique_ptr<net::io_context>> contexts_;  // one per I/O thread; the first also accepts
  std::vector<net::executor_work_guard<net::io_context::executor_type>> work_;
  std::vector<std::unique_ptr<Sweeper>> sweepers_;  // one per I/O thread, beside its context
  std::size_t nextContext_ = 0;                     // only the accepting thread deals connections out
  tcp::acceptor acceptor_;
  net::steady_timer retry_;
  std::optional<ssl::context> tls_;  // set when the front speaks TLS
  std::vector<std::thread> threads_;
  std::uint16_t port_ = 0;
};

}  // namespace

ThreadRunner thisIoThread() {
  return [context = currentContext](std::function<void()> work) { net::post(*context, std::move(work)); };
}

std::unique_ptr<HttpFront> HttpFront::start(const FrontOptions& options, RequestHandler handler, std::string& error) {
  auto front = std::make_unique<Front>(options, std::move(handler));
  if (!front->listen(error)) return nullptr;
  front->run();
  return front;
}

}  // namespace storeserver

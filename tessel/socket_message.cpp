#include "tessel/socket_message.h"

#include <QApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "tessel/records.h"
#include "tessel/save_wait_dlg.h"
#include "tessel/tessel_config.h"
#include "tessel/transport_clock.h"
#include "wire/exchange.h"

Q_LOGGING_CATEGORY(lcTransport, "tessel.transport")

namespace {

struct ServerAddress {
  bool valid = false;
  bool tls = false;
  std::string host;
  int port = 0;
  QString display;  // host:port, as the clerk's sentences name it
};

ServerAddress parseAddress(const QString& configured) {
  ServerAddress address;
  QString text = configured.trimmed();
  address.display = text;
  if (!text.contains(QLatin1String("://"))) text.prepend(QLatin1String("http://"));
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
      !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
      (!url.path().isEmpty() && url.path() != QLatin1String("/")))
    return address;
  address.tls = scheme == QLatin1String("https");
  address.port = url.port(address.tls ? 443 : 80);
  if (address.port <= 0) return address;
  address.host = url.host().toStdString();
  const QString host =
      url.host().contains(QLatin1Char(':')) ? QLatin1Char('[') + url.host() + QLatin1Char(']') : url.host();
  address.display = host + QLatin1Char(':') + QString::number(address.port);
  address.valid = true;
  return address;
}

// This machine itself: what goes there never crosses a network.
bool isLoopback(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

using std::chrono::milliseconds;
using TimePoint = CTransportClock::TimePoint;

bool isGatewayStatus(int status) { return status == 502 || status == 503 || status == 504; }

// The sentence a non-200 answer stands for: the server's own when it sent one.
QString refusalText(int status, const std::string& body) {
  if (auto sentence = wire::parseErrorBody(body); sentence && !sentence->empty())
    return QString::fromStdString(*sentence);
  return isGatewayStatus(status) ? CSocketMessage::GatewayText(status) : CSocketMessage::UnreadableText();
}

// An answer the store server itself wrote: its exchange reply, or its sentence.
// A gateway's status never counts, not even with a sentence: resending an
// update the server then applies once is always safe, and its busy 503 means
// it applied nothing.
bool isServersOwn(int status, const std::string& body) {
  if (isGatewayStatus(status)) return false;
  std::string error;
  if (status == 200) return wire::parseExchangeReply(body, error).has_value();
  return wire::parseErrorBody(body).has_value();
}

// Pauses between the tries of a change whose answer was lost: short at first,
// then no more than a few a second, so a server coming back is not flooded.
constexpr milliseconds kFirstPause{250};
constexpr milliseconds kLongestPause{2000};

// A POST given up only by the read timeout.
constexpr milliseconds kNoLimit = milliseconds::max();

// httplib's own timeouts only back up the exchange deadline and never come first.
constexpr int kBackstopSeconds = 60;

QString secondsText(int seconds) {
  return seconds == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(seconds);
}

int wholeSeconds(TimePoint::duration span) {
  return std::max(1, int(std::chrono::duration_cast<std::chrono::seconds>(span).count()));
}

// Lets the clerk end a wait from the UI thread while a try runs on a worker:
// pauses and tries in flight wake up on Cancel.
class WaitCanceller {
 public:
  void Cancel() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_cancelled = true;
    }
    m_changed.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancelled = false;
  }
  bool Cancelled() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelled;
  }
  // Waits for span by clock; false when cancelled before or meanwhile.
  bool Pause(CTransportClock& clock, TimePoint::duration span) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const TimePoint end = clock.Now() + span;
    while (!m_cancelled && clock.Now() < end) clock.PauseUntil(m_changed, lock, end);
    return !m_cancelled;
  }

 private:
  friend class ExchangeWatch;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_cancelled = false;
};

// Ends an exchange that outlasts its time, or that the clerk stopped waiting
// for, by shutting the client's socket, and remembers that it did. httplib
// reports a silent server and one that hung up alike, as a failed read; this
// tells them apart by what happened, not by how long the call seemed to take
// on a busy handheld.
//
// One thread watches every exchange of a connection in turn. It sleeps until
// the deadline it last saw and is woken only for an earlier deadline or the
// clerk's stop, so a quick exchange costs no thread and no wake-up.
class ExchangeWatch {
 public:
  ExchangeWatch(httplib::Client& client, WaitCanceller& canceller, CTransportClock& clock)
      : m_client(client), m_canceller(canceller), m_clock(clock), m_thread([this] { Watch(); }) {}
  ~ExchangeWatch() {
    {
      std::lock_guard<std::mutex> lock(m_canceller.m_mutex);
      m_quit = true;
    }
    m_canceller.m_changed.notify_all();
    m_thread.join();
  }

  void Start(milliseconds limit) {
    std::lock_guard<std::mutex> lock(m_canceller.m_mutex);
    m_watching = true;
    m_expired = false;
    m_deadline = m_clock.Now() + limit;
    if (m_deadline < m_wakeAt || m_canceller.m_cancelled) m_canceller.m_changed.notify_all();
  }

  // Called once the exchange has returned; true when the deadline or a cancel ended it.
  bool Finish() {
    std::lock_guard<std::mutex> lock(m_canceller.m_mutex);
    m_watching = false;
    return m_expired;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(m_canceller.m_mutex);
    while (!m_quit) {
      if (m_watching && (m_canceller.m_cancelled || m_clock.Now() >= m_deadline)) {
        m_watching = false;
        m_expired = true;
        m_client.stop();  // the one call httplib allows from another thread
      }
      m_wakeAt = m_watching ? m_deadline : TimePoint::max();
      if (m_watching) m_clock.WaitUntil(m_canceller.m_changed, lock, m_wakeAt);
      else m_canceller.m_changed.wait(lock);
    }
  }

  httplib::Client& m_client;
  WaitCanceller& m_canceller;
  CTransportClock& m_clock;
  // Guarded by the canceller's mutex:
  bool m_watching = false;  // an exchange is under way
  bool m_expired = false;
  bool m_quit = false;
  TimePoint m_deadline;
  TimePoint m_wakeAt = TimePoint::max();  // when the thread looks again unless woken
  std::thread m_thread;                   // last: it starts once the members above exist
};

// A failure after which the server may have the whole request.
bool requestWentOut(httplib::Error error) { return error == httplib::Error::Read || error == httplib::Error::Write; }

// The sentence for an exchange that got no answer.
QString failureText(httplib::Error error, bool expired, int waitedSeconds, const QString& display) {
  if (error == httplib::Error::Canceled) return CSocketMessage::TooLargeText();  // only the body cap cancels
  if (error == httplib::Error::SSLServerVerification) return CSocketMessage::UntrustedText(display);
  if (error == httplib::Error::SSLConnection || error == httplib::Error::SSLLoadingCerts)
    return CSocketMessage::NoSecureLinkText(display);
  if (!requestWentOut(error)) return CSocketMessage::CannotReachText(display);
  if (expired) return CSocketMessage::NoAnswerText(waitedSeconds);
  return error == httplib::Error::Read ? CSocketMessage::ClosedText() : CSocketMessage::CannotReachText(display);
}

httplib::Request postRequest(const char* path, const std::string& body, std::string& answer) {
  httplib::Request request;
  request.method = "POST";
  request.path = path;
  request.set_header("Content-Type", "application/json");
  request.body = body;
  request.content_receiver = [&answer](const char* data, std::size_t length, std::uint64_t, std::uint64_t total) {
    // Refusing the rest ends the exchange, so a huge answer is never held whole.
    if (total > CSocketMessage::kMaxReplyBytes || answer.size() + length > CSocketMessage::kMaxReplyBytes) return false;
    answer.append(data, length);
    return true;
  };
  return request;
}

}  // namespace

struct CSocketMessage::Canceller : WaitCanceller {};

struct CSocketMessage::Connection {
  QString configured;  // the address text it was made for
  ServerAddress address;
  int readTimeout = CTesselConfig::kDefaultReadTimeout;
  std::unique_ptr<httplib::Client> client;
  std::unique_ptr<ExchangeWatch> watch;  // made with the client, stopped before it
};

QString CSocketMessage::CannotReachText(const QString& address) {
  return QStringLiteral("Cannot reach the store server at %1.").arg(address);
}

QString CSocketMessage::NoAnswerText(int seconds) {
  return QStringLiteral("The store server did not answer within %1.").arg(secondsText(seconds));
}

QString CSocketMessage::UnreadableText() {
  return QStringLiteral("The store server sent an answer this handheld cannot read.");
}

QString CSocketMessage::ClosedText() {
  return QStringLiteral("The store server closed the connection without answering.");
}

QString CSocketMessage::BadAddressText(const QString& address) {
  return QStringLiteral("The store server address \"%1\" is not valid.").arg(address);
}

QString CSocketMessage::UntrustedText(const QString& address) {
  return QStringLiteral("The store server at %1 could not prove it is the store's server, so nothing was sent. "
                        "Ask the store manager to check the certificate settings.")
      .arg(address);
}

QString CSocketMessage::NoSecureLinkText(const QString& address) {
  return QStringLiteral("Cannot set up a secure connection with the store server at %1. "
                        "Ask the store manager to check the certificate settings.")
      .arg(address);
}

QString CSocketMessage::NoCAFileText(const QString& path) {
  return QStringLiteral("The store's certificate file %1 set on this handheld cannot be read.").arg(path);
}

QString CSocketMessage::PlainHttpText(const QString& address) {
  return QStringLiteral("This handheld does not send a password unencrypted to the store server at %1. "
                        "Ask the store manager for the server's https:// address.")
      .arg(address);
}

QString CSocketMessage::NoServerText() { return QStringLiteral("No store server address is set on this handheld."); }

QString CSocketMessage::NoQueryText() { return QStringLiteral("There is no query to send to the store server."); }

QString CSocketMessage::NoReplyText(int n) { return QStringLiteral("There is no reply number %1.").arg(n); }

QString CSocketMessage::TooLargeText() {
  return QStringLiteral("The store server's answer is too large for this handheld. Narrow the search and try again.");
}

QString CSocketMessage::TooManyRecordsText() {
  return QStringLiteral("The store server's answer lists more than %1 entries, more than this handheld can show. "
                        "Narrow the search and try again.")
      .arg(kMaxReplyRecords);
}

QString CSocketMessage::GatewayText(int status) {
  return QStringLiteral("The store server could not be reached through the store network (error %1). "
                        "Try again in a moment.")
      .arg(status);
}

QString CSocketMessage::NotConfirmedText(int seconds) {
  return QStringLiteral("The store server did not confirm the change within %1, so it may or may not be saved.")
      .arg(secondsText(seconds));
}

QString CSocketMessage::StoppedWaitingText(int seconds) {
  return QStringLiteral("You stopped waiting for the store server after %1, so the change may or may not be saved.")
      .arg(secondsText(seconds));
}

QString CSocketMessage::StoppedReadingText(int seconds) {
  return QStringLiteral("You stopped waiting for the store server after %1.").arg(secondsText(seconds));
}

CSocketMessage::CSocketMessage(int eAppType)
    : m_nAppType(eAppType), m_pClock(&CTransportClock::Steady()), m_canceller(std::make_unique<Canceller>()) {}

CSocketMessage::~CSocketMessage() { ClearPassword(); }

void CSocketMessage::SetServer(const QString& address) {
  m_strServer = address.trimmed();
  m_bServerSet = true;
  if (m_connection && m_connection->configured != m_strServer) m_connection.reset();
}

QString CSocketMessage::GetServer() const {
  if (m_bServerSet) return m_strServer;
  return m_connection ? m_connection->configured : CTesselConfig::GetServer();
}

void CSocketMessage::Disconnect() { m_connection.reset(); }

void CSocketMessage::SetClock(CTransportClock& clock) {
  m_connection.reset();  // its watch keeps the time by the clock it was made with
  m_pClock = &clock;
}

void CSocketMessage::SetCredentials(const QString& user, const QString& password) {
  if (user != m_strLoginUser || password != m_strPassword) ForgetSession();
  m_strLoginUser = user;
  m_strPassword = password;
}

void CSocketMessage::ClearPassword() {
  // Overwrite before letting go, so the freed buffer does not keep it.
  if (!m_strPassword.isEmpty()) m_strPassword.fill(QLatin1Char(' '));
  m_strPassword.clear();
  ForgetSession();
}

void CSocketMessage::ForgetSession() {
  std::fill(m_token.begin(), m_token.end(), ' ');
  m_token.clear();
  m_strUser.clear();
}

void CSocketMessage::Reset() {
  m_queries.clear();
  m_nextPages.clear();
  m_replies.clear();
}

int CSocketMessage::AddQuery(int packetType, const QString& text) {
  m_queries.push_back({packetType, text});
  return int(m_queries.size()) - 1;
}

void CSocketMessage::SetNextPage(int page, int n) {
  if (n >= 0) m_nextPages[n] = page < -1 ? -1 : page;
}

void CSocketMessage::FailWith(const QString& sentence) {
  m_replies.clear();
  m_replies.push_back({true, sentence, -1, -1});
}

bool CSocketMessage::OpenConnection(QString& failure) {
  const QString configured = GetServer();
  if (m_connection && m_connection->configured == configured) return true;
  auto connection = std::make_unique<Connection>();
  connection->configured = configured;
  connection->address = parseAddress(configured);
  if (!connection->address.valid) {
    failure = configured.trimmed().isEmpty() ? NoServerText() : BadAddressText(configured);
    return false;
  }
  const ServerAddress& a = connection->address;
  // Every exchange carries a password or a session token.
  if (!a.tls && !isLoopback(a.host) && !CTesselConfig::GetAllowPlainHttp()) {
    failure = PlainHttpText(a.display);
    return false;
  }
  connection->readTimeout = CTesselConfig::GetReadTimeout();
  connection->client = a.tls ? std::make_unique<httplib::Client>("https://" + a.display.toStdString())
                             : std::make_unique<httplib::Client>(a.host, a.port);
  if (a.tls) {
    // A store's own CA when set; otherwise the system's. Never unverified.
    connection->client->enable_server_certificate_verification(true);
    const QString caFile = CTesselConfig::GetCAFile();
    if (!caFile.isEmpty() && !QFileInfo(caFile).isReadable()) {
      failure = NoCAFileText(caFile);
      return false;
    }
    if (!caFile.isEmpty()) connection->client->set_ca_cert_path(caFile.toStdString());
  }
  // Without nodelay every keep-alive exchange waits for a delayed ACK.
  connection->client->set_tcp_nodelay(true);
  connection->client->set_keep_alive(true);
  connection->client->set_connection_timeout(CTesselConfig::GetConnectTimeout());
  connection->client->set_read_timeout(connection->readTimeout + kBackstopSeconds);
  connection->client->set_write_timeout(connection->readTimeout + kBackstopSeconds);
  connection->watch = std::make_unique<ExchangeWatch>(*connection->client, *m_canceller, *m_pClock);
  m_connection = std::move(connection);
  return true;
}

CSocketMessage::Attempt CSocketMessage::Post(const char* path, const std::string& body, milliseconds limit) {
  Attempt attempt;
  if (!OpenConnection(attempt.failure)) return attempt;
  httplib::Request request = postRequest(path, body, attempt.answer);
  httplib::Response response;
  httplib::Error error = httplib::Error::Success;
  const TimePoint started = m_pClock->Now();
  const milliseconds readTimeout = std::chrono::seconds(m_connection->readTimeout);
  m_connection->watch->Start(std::min(limit, readTimeout));
  attempt.answered = m_connection->client->send(request, response, error);
  const bool expired = m_connection->watch->Finish();
  if (attempt.answered) {
    attempt.status = response.status;
    return attempt;
  }

  attempt.requestOut = requestWentOut(error);
  attempt.failure = failureText(error, expired, wholeSeconds(m_pClock->Now() - started), m_connection->address.display);
  qCInfo(lcTransport).noquote() << "exchange with" << m_connection->address.display
                                << "failed:" << QString::fromStdString(httplib::to_string(error))
                                << (expired ? "(deadline)" : "");
  // A connection that failed mid-exchange may still deliver the late answer; never reuse it.
  m_connection.reset();
  return attempt;
}

bool CSocketMessage::HoldsUpdate() const {
  return std::any_of(m_queries.begin(), m_queries.end(), [](const QueuedQuery& q) {
    return q.packet == wire::kPacketNewItem || q.packet == wire::kPacketDelete || q.packet == wire::kPacketChange;
  });
}

CSocketMessage::Attempt CSocketMessage::PostExchange(const std::string& body, bool showWait) {
  const bool update = HoldsUpdate();
  const milliseconds saveTimeout = std::chrono::seconds(CTesselConfig::GetSaveTimeout());
  const TimePoint started = m_pClock->Now();
  Attempt attempt;
  m_canceller->Reset();
  const auto send = [&]() noexcept { SendExchange(body, update, saveTimeout, started, attempt); };
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if ((update || showWait) && app && QThread::currentThread() == app->thread())
    CSaveWaitDlg(*m_pClock, started, update, [this] { m_canceller->Cancel(); }).RunWhileWaiting(send);
  else send();
  const bool stopped = m_canceller->Cancelled();
  m_canceller->Reset();  // or it would break off the next exchange at once
  if (attempt.answered && (!update || isServersOwn(attempt.status, attempt.answer))) return attempt;
  if (update ? !m_bOutcomeUnknown : !stopped) return attempt;
  const int seconds = wholeSeconds(m_pClock->Now() - started);
  attempt = Attempt{};
  attempt.failure = !update   ? StoppedReadingText(seconds)
                    : stopped ? StoppedWaitingText(seconds)
                              : NotConfirmedText(seconds);
  return attempt;
}

void CSocketMessage::SendExchange(const std::string& body, bool update, milliseconds saveTimeout,
                                  CTransportClock::TimePoint started, Attempt& attempt) {
  try {
    attempt = Post(wire::kExchangePath.data(), body, kNoLimit);
    const bool unknown = attempt.answered ? !isServersOwn(attempt.status, attempt.answer) : attempt.requestOut;
    if (update && unknown) ResendUntilAnswered(body, saveTimeout, started, attempt);
  } catch (...) {
    m_connection.reset();
    attempt = Attempt{};
    attempt.failure = UnreadableText();
  }
}

// The server may have applied the update. The same texts carry the same update
// identities, so it answers a resend with its first answer and applies nothing twice.
void CSocketMessage::ResendUntilAnswered(const std::string& body, milliseconds saveTimeout,
                                         CTransportClock::TimePoint started, Attempt& attempt) {
  m_bOutcomeUnknown = true;
  const auto left = [&] { return saveTimeout - std::chrono::duration_cast<milliseconds>(m_pClock->Now() - started); };
  for (milliseconds pause = kFirstPause; !attempt.answered || !isServersOwn(attempt.status, attempt.answer);
       pause = std::min(pause * 2, kLongestPause)) {
    if (!m_canceller->Pause(*m_pClock, std::min(pause, left())) || left() <= milliseconds(0)) return;
    qCInfo(lcTransport) << "sending the exchange with an update again";
    attempt = Post(wire::kExchangePath.data(), body, left());
  }
}

bool CSocketMessage::LogInOnce(QString& text, QString& records) {
  ForgetSession();
  const wire::LoginRequest request{m_nAppType, m_strLoginUser.toStdString(), m_strPassword.toStdString()};
  const Attempt attempt = Post(wire::kLoginPath.data(), wire::toJson(request), kNoLimit);
  if (!attempt.answered) {
    text = attempt.failure;
    return false;
  }
  if (attempt.status != 200) {
    text = refusalText(attempt.status, attempt.answer);
    return false;
  }
  std::string error;
  auto reply = wire::parseLoginReply(attempt.answer, error);
  if (!reply || reply->token.empty()) {
    qCInfo(lcTransport).noquote() << "unreadable log-in answer:" << QString::fromStdString(error);
    text = UnreadableText();
    return false;
  }
  QString received = QString::fromStdString(reply->reply);
  if (IsOversizedRecordList(received)) {
    text = TooManyRecordsText();
    return false;
  }
  m_token = std::move(reply->token);
  m_strUser = QString::fromStdString(reply->user);
  text = QString::fromStdString(reply->text);
  records = std::move(received);
  return true;
}

bool CSocketMessage::LogIn(QString& text) {
  try {
    QString records;
    if (!LogInOnce(text, records)) {
      FailWith(text);
      return false;
    }
    m_replies.clear();
    m_replies.push_back({false, records, -1, -1});
    return true;
  } catch (...) {
    ForgetSession();
    text = UnreadableText();
    FailWith(text);
    return false;
  }
}

bool CSocketMessage::SendQuery() {
  try {
    m_replies.clear();
    m_bOutcomeUnknown = false;
    const bool showWait = std::exchange(m_bShowNextWait, false);
    if (m_queries.isEmpty()) {
      FailWith(NoQueryText());
      return false;
    }
    QString text, records;
    if (m_token.empty() && !LogInOnce(text, records)) {
      FailWith(text);
      return false;
    }

    wire::ExchangeRequest request{m_nAppType, {}, {}};
    for (int i = 0; i < m_queries.size(); ++i) {
      const auto page = m_nextPages.find(i);
      request.queries.push_back(
          {m_queries[i].packet, m_queries[i].text.toStdString(), page == m_nextPages.end() ? -1 : page->second});
    }

    Attempt sent;
    for (int round = 0;; ++round) {
      request.token = m_token;
      sent = PostExchange(wire::toJson(request), showWait);
      if (!sent.answered) {
        FailWith(sent.failure);
        return false;
      }
      if (sent.status != 401) break;
      ForgetSession();
      if (round > 0) break;
      // The session expired on the server: one fresh log-in, one retry.
      if (!LogInOnce(text, records)) {
        FailWith(text);
        return false;
      }
    }
    if (sent.status != 200) {
      FailWith(refusalText(sent.status, sent.answer));
      return false;
    }

    std::string error;
    auto reply = wire::parseExchangeReply(sent.answer, error);
    if (!reply || reply->replies.size() != std::size_t(m_queries.size())) {
      qCInfo(lcTransport).noquote() << "unreadable exchange answer:"
                                    << (reply ? QStringLiteral("wrong reply count") : QString::fromStdString(error));
      m_connection.reset();
      FailWith(UnreadableText());
      return false;
    }
    for (const wire::Reply& r : reply->replies) {
      const QString received = QString::fromStdString(r.text);
      // Refused here, where the clerk gets a sentence, rather than built into a list nobody can use.
      const bool oversized = !r.error && IsOversizedRecordList(received);
      m_replies.push_back(
          {r.error || oversized, oversized ? TooManyRecordsText() : received, r.page > 0 ? r.page : -1, r.pageCount});
    }
    return true;
  } catch (...) {
    m_connection.reset();
    FailWith(UnreadableText());
    return false;
  }
}

bool CSocketMessage::IsError(int n) const { return n < 0 || n >= m_replies.size() || m_replies[n].error; }

QString CSocketMessage::GetResponse(int n) const {
  if (n < 0 || n >= m_replies.size()) return NoReplyText(n);
  return m_replies[n].text;
}

int CSocketMessage::GetCurrentPage(int n) const { return n < 0 || n >= m_replies.size() ? -1 : m_replies[n].page; }

int CSocketMessage::GetPageCount(int n) const { return n < 0 || n >= m_replies.size() ? -1 : m_replies[n].pageCount; }

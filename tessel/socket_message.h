#pragma once
// The programs' one way to the store server: queue queries, send them in one
// exchange, read one reply per query. Every call is synchronous; nothing
// throws: failures return false and leave a sentence for the clerk in reply 0.
#include <QString>
#include <QVector>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "tessel/transport_clock.h"

class CSocketMessage {
 public:
  // Sentences a failed exchange leaves in reply 0 (besides the server's own).
  static QString CannotReachText(const QString& address);   // refused, unresolvable, connect timeout
  static QString NoAnswerText(int seconds);                 // read timeout, after that many seconds
  static QString UnreadableText();                          // not JSON, wrong shape, wrong reply count
  static QString ClosedText();                              // connection closed before the answer
  static QString BadAddressText(const QString& address);    // the address cannot be parsed
  static QString UntrustedText(const QString& address);     // https: the certificate is not trusted
  static QString NoSecureLinkText(const QString& address);  // https: TLS could not be set up
  static QString NoCAFileText(const QString& path);         // the CAFile setting names no readable file
  static QString PlainHttpText(const QString& address);     // http:// to another machine, not allowed
  static QString NoServerText();                            // no address configured
  static QString NoQueryText();                             // SendQuery with nothing queued
  static QString NoReplyText(int n);                        // a reply number that does not exist
  static QString TooLargeText();                            // an answer of more than kMaxReplyBytes
  static QString TooManyRecordsText();                      // a record list of more than kMaxReplyRecords
  static QString GatewayText(int status);                   // 502, 503 or 504 from something in between
  static QString NotConfirmedText(int seconds);             // an update still unanswered after SaveTimeout
  static QString StoppedWaitingText(int seconds);           // the clerk stopped waiting for an update
  static QString StoppedReadingText(int seconds);           // the clerk stopped waiting for a query

  // Largest answer body taken from the server. A real answer is tens of
  // kilobytes; a larger one is refused as it arrives, so it is never held whole.
  static constexpr std::size_t kMaxReplyBytes = 4 << 20;

  // Constructing touches no profile and no network, so it may be a static object.
  explicit CSocketMessage(int eAppType);
  ~CSocketMessage();
  CSocketMessage(const CSocketMessage&) = delete;
  CSocketMessage& operator=(const CSocketMessage&) = delete;

  // Server address, "http://host:port" or "host:port". Until set, the
  // configured one (CTesselConfig) is used.
  void SetServer(const QString& address);
  QString GetServer() const;
  // Drops the connection; the next exchange reads the configuration afresh.
  void Disconnect();
  // The clock the transport keeps time by: the steady one unless a test gives
  // one it moves. It must outlive this object.
  void SetClock(CTransportClock& clock);

  // Credentials for the log-in. Changing them forgets the session.
  void SetCredentials(const QString& user, const QString& password);
  // Forgets the password and the session; the user name stays for the log-in dialog.
  void ClearPassword();
  bool IsLoggedIn() const { return !m_token.empty(); }

  // Logs in with the credentials. True: the session is kept, GetUser names the
  // user, reply 0 holds the log-in's records (not an error) and text the
  // server's status text. False: text, and reply 0 as an error, say why.
  bool LogIn(QString& text);

  // Forgets queued queries, their pages and the replies; the session stays.
  void Reset();
  // Queues a query; returns its number (0, 1, ...).
  int AddQuery(int packetType, const QString& text);
  // Page asked for by query n (-1, the default: the first page, or not paged).
  // May come before or after that query's AddQuery; Reset forgets it.
  void SetNextPage(int page, int n = 0);

  // One exchange with every queued query, logging in first when there is no
  // session, and once more (then retrying once) when the server answers that
  // the session expired. False: the exchange failed, reply 0 holds the sentence.
  //
  // A query is sent once. An exchange holding an update (packet 0, 1 or 2)
  // whose outcome is unknown (no answer in time, the connection closed or
  // reset once the request was out, or an answer that is not the store
  // server's own, such as a gateway's 502, 503 or 504 page) is sent again with
  // the same texts, so the same update identities, after a short pause each
  // time, until the server's own answer comes or SaveTimeout seconds have
  // passed since it was first sent. On the UI thread of a widget application,
  // an update that is not answered at once has CSaveWaitDlg tell the clerk
  // that the change is being saved and let them stop waiting (the try in
  // flight is broken off). Without the server's answer reply 0 says how long
  // it waited, or that the clerk stopped.
  bool SendQuery();
  // The next SendQuery shows the waiting window for queries too, so the clerk
  // sees, and may stop, a read that settles what the screen shows.
  void ShowNextWait() { m_bShowNextWait = true; }
  // True when the last SendQuery met an unknown outcome at any point, however
  // it ended: what the server stored may differ from what the caller expects.
  bool WasOutcomeUnknown() const { return m_bOutcomeUnknown; }

  int GetReplyCount() const { return int(m_replies.size()); }
  // True when the server refused query n, and for a reply number that does not exist.
  bool IsError(int n) const;
  // Reply text of query n: records, or on error a text for the clerk.
  QString GetResponse(int n) const;
  // Page of reply n counted from 1; -1 when not paged or there is no such reply.
  int GetCurrentPage(int n = 0) const;
  // Pages of reply n; -1 when not paged or there is no such reply.
  int GetPageCount(int n = 0) const;
  // The logged-in user's name as the server spells it; empty without a session.
  QString GetUser() const { return m_strUser; }

 private:
  struct QueuedQuery {
    int packet = 0;
    QString text;
  };
  struct ReplyData {
    bool error = false;
    QString text;
    int page = -1;
    int pageCount = -1;
  };
  struct Connection;
  class Canceller;
  // What one POST came to.
  struct Attempt {
    bool answered = false;    // an HTTP answer arrived (any status)
    bool requestOut = false;  // no answer, but the request may have reached the server
    int status = 0;
    std::string answer;
    QString failure;  // why there is no answer
  };

  // Makes the connection for the configured address unless it is there; false with the sentence in failure.
  bool OpenConnection(QString& failure);
  // One POST, given up after limit (or the read timeout when shorter). Without
  // an answer the connection is dropped.
  Attempt Post(const char* path, const std::string& body, std::chrono::milliseconds limit);
  // The exchange's POST; for an update, sent again while its outcome is unknown.
  // With showWait, or for an update, the clerk may see the wait and stop it.
  Attempt PostExchange(const std::string& body, bool showWait);
  // The first try, and for an update its resends; on any thread.
  void SendExchange(const std::string& body, bool update, std::chrono::milliseconds saveTimeout,
                    CTransportClock::TimePoint started, Attempt& attempt);
  bool HoldsUpdate() const;
  // Sends again until the server's own answer, the end of saveTimeout, or the clerk's stop.
  void ResendUntilAnswered(const std::string& body, std::chrono::milliseconds saveTimeout,
                           CTransportClock::TimePoint started, Attempt& attempt);
  bool LogInOnce(QString& text, QString& records);
  void FailWith(const QString& sentence);
  void ForgetSession();

  int m_nAppType;
  CTransportClock* m_pClock;
  QString m_strServer;
  bool m_bServerSet = false;
  QString m_strLoginUser;
  QString m_strPassword;
  std::string m_token;
  QString m_strUser;
  QVector<QueuedQuery> m_queries;
  std::map<int, int> m_nextPages;
  QVector<ReplyData> m_replies;
  std::unique_ptr<Canceller> m_canceller;  // outlives the connection, whose watch waits on it
  std::unique_ptr<Connection> m_connection;
  bool m_bOutcomeUnknown = false;
  bool m_bShowNextWait = false;
};

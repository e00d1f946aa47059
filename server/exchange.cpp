// POST /v1/exchange: checks the session token, then answers each query in order
// inside one read transaction; a query that writes goes to the server's writer
// and is answered once committed. An exchange that is one update checks its
// token inside that update's transaction instead and, with a writer of its
// own thread, goes from the network thread to the writer and back with no
// worker waiting between. A bad query gets an error reply; the others are
// still answered.
#include <algorithm>
#include <type_traits>

#include "server/auth.h"
#include "server/queries/query.h"
#include "server/services.h"
#include "server/update_start.h"
#include "server/writer.h"
#include "wire/exchange.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver {

namespace {

wire::Reply run(queries::QueryContext& context, const queries::QueryKind& kind, const nlohmann::json& arguments) {
  try {
    return kind.run(context, arguments);
  } catch (const storage::Conflict&) {
    throw;  // the whole update transaction is undone; its writer runs it again
  } catch (const storage::Unreachable&) {
    throw;  // the whole exchange is answered so
  } catch (const storage::Error& e) {
    context.problems.push_back(std::string(kind.name) + ": " + e.what());
    return queries::errorReply(std::string(kDatabaseFailed));
  }
}

// What an update asks for, in one canonical form: its kind, packet type and
// arguments (an object's members in name order), as a SHA-256 digest.
std::string updateDigest(const queries::QueryKind& kind, int packet, const nlohmann::json& arguments) {
  return sha256Hex(std::string(kind.name) + '\n' + std::to_string(packet) + '\n' +
                   arguments.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

struct Identity {
  std::string updateId;
  std::string digest;
};

// The token of an exchange that is one update, checked inside its transaction.
struct UncheckedToken {
  std::string_view token;
  std::optional<TokenCheck> check;  // once checked
};

// The answer stored for an update's identity, when it was applied before. An
// identity names one change of one user: anything else under it is refused.
// A digest stored empty (before digests were kept) matches any content.
std::optional<wire::Reply> earlierAnswer(queries::QueryContext& context, const Identity& identity,
                                         const std::optional<StoredAnswer>& earlier) {
  if (!earlier) return std::nullopt;
  std::string_view appliedFor;
  if (earlier->userId != context.user.id) appliedFor = "another user";
  else if (!earlier->digest.empty() && earlier->digest != identity.digest) appliedFor = "other contents";
  else return wire::Reply{false, earlier->answer, 0, -1};
  context.problems.push_back("update_id " + identity.updateId + " was applied for " + std::string(appliedFor));
  return queries::errorReply(
      "This change was not saved: the store server already holds a different change under its number. "
      "Make the change again.");
}

// Runs on the writer's connection, inside a transaction taken for writing
// from its start, so no other handheld's write comes between a check and the
// write it guards. Refusals are not stored: a refused update changed nothing,
// and judging its repeat afresh cannot apply it twice.
WriteOutcome applyUpdate(const queries::QueryContext& asked, storage::Connection& db, const queries::QueryKind& kind,
                         const nlohmann::json& arguments, const std::optional<Identity>& identity,
                         UncheckedToken* unchecked) {
  if (kind.lockRows && db.dialect() == storage::Dialect::Postgres) kind.lockRows(db, arguments, asked.packet);
  const UpdateStart start = startUpdate(db, unchecked ? std::optional(unchecked->token) : std::nullopt, asked.app,
                                        asked.nowMs, identity ? identity->updateId : "");
  if (unchecked) unchecked->check = start.token;
  // Undone unanswered: the exchange is refused as a whole for its token.
  if (start.token && start.token->status != TokenStatus::Valid) return {queries::errorReply(""), {}};
  std::optional<storage::Transaction> noReadTransaction;
  queries::QueryContext context{
      db, start.token ? start.token->user : asked.user, asked.services, asked.nowMs, noReadTransaction, {}};
  context.page = asked.page;
  context.packet = asked.packet;
  context.app = asked.app;
  context.tokenHash = start.token ? start.token->tokenHash : asked.tokenHash;
  if (auto earlier = identity ? earlierAnswer(context, *identity, start.earlier) : std::nullopt)
    return {*earlier, std::move(context.problems)};
  wire::Reply reply = run(context, kind, arguments);
  if (!reply.error && identity)
    db.send("INSERT INTO ticket_updates (update_id, user_id, answer, applied_at, digest) VALUES (?, ?, ?, ?, ?)",
            {identity->updateId, context.user.id, reply.text, context.nowMs, identity->digest});
  return {std::move(reply), std::move(context.problems)};
}

// An update's identity, from its arguments when its kind is applied exactly
// once; the reply refusing it when that identity cannot be read.
std::optional<wire::Reply> readIdentity(queries::QueryContext& context, const queries::QueryKind& kind,
                                        const nlohmann::json& arguments, std::optional<Identity>& identity) {
  if (kind.access != queries::Access::ExactlyOnce) return std::nullopt;
  wire::JsonReader in(arguments, "update");
  const auto id = in.text("update_id", wire::requests::kUpdateIdLength);
  if (!in.ok()) return queries::unreadableReply(context, in.error());
  if (!wire::requests::isCanonicalUpdateId(*id))
    return queries::unreadableReply(context, "update_id is not a UUID in canonical text");
  identity = Identity{*id, updateDigest(kind, context.packet, arguments)};
  return std::nullopt;
}

void takeProblems(queries::QueryContext& context, WriteOutcome& outcome) {
  for (std::string& problem : outcome.problems) context.problems.push_back(std::move(problem));
}

// An update among the queries of an exchange whose token was checked already.
wire::Reply answerWriting(queries::QueryContext& context, const queries::QueryKind& kind,
                          const nlohmann::json& arguments) {
  std::optional<Identity> identity;
  if (auto refused = readIdentity(context, kind, arguments, identity)) return *refused;
  if (context.readTx) context.readTx->commit();
  context.readTx.reset();
  WriteOutcome outcome = context.services.writer.write(
      context.db, [&](storage::Connection& db) { return applyUpdate(context, db, kind, arguments, identity, nullptr); },
      kind.lockRows != nullptr);
  takeProblems(context, outcome);
  return std::move(outcome.reply);
}

std::string_view programName(int app) {
  switch (app) {
    case wire::kAppSellin: return "Sellin";
    case wire::kAppAdoptra: return "Adoptra";
    case wire::kAppStipendo: return "Stipendo";
  }
  return "another program";
}

const queries::QueryKind* findKind(std::string_view name) {
  for (const queries::QueryKind& k : queries::queryKinds())
    if (k.name == name) return &k;
  return nullptr;
}

bool isUpdate(const std::optional<wire::requests::Request>& request) {
  const queries::QueryKind* k = request ? findKind(request->kind) : nullptr;
  return k && k->access != queries::Access::Read;
}

// The reply refusing a query unanswered: unreadable, unknown, another
// program's, or with a packet type its kind does not take. nullopt when it is
// to run: kind is then its kind, and the context holds its page and packet.
std::optional<wire::Reply> refusal(queries::QueryContext& context, const wire::Query& query,
                                   const std::optional<wire::requests::Request>& request, const std::string& error,
                                   std::string& kindName, const queries::QueryKind*& kind) {
  kindName = "?";
  if (!request) return queries::unreadableReply(context, error);
  // Only the server's own names reach the requests field; what a handheld
  // sent goes to the quoted problems.
  kind = findKind(request->kind);
  if (!kind) {
    context.problems.push_back("unknown request " + printable(request->kind, 32));
    return queries::errorReply("The store server does not know this request; it may be older than the program. "
                               "Tell the back office.");
  }
  kindName = kind->name;
  if (kind->program != context.app) {
    context.problems.push_back(kindName + " sent by a log-in of program " + std::to_string(context.app));
    return queries::errorReply("Only " + std::string(programName(kind->program)) +
                               " may ask the store server for this; log in from " +
                               std::string(programName(kind->program)) + ".");
  }
  if (!kind->packets.has(query.packet))
    return queries::unreadableReply(context, kindName + " came with packet type " + std::to_string(query.packet));
  context.page = query.page;
  context.packet = query.packet;
  return std::nullopt;
}

wire::Reply answer(queries::QueryContext& context, const wire::Query& query,
                   const std::optional<wire::requests::Request>& request, const std::string& error,
                   std::string& kindName) {
  const queries::QueryKind* kind = nullptr;
  if (auto refused = refusal(context, query, request, error, kindName, kind)) return *refused;
  if (kind->access != queries::Access::Read) return answerWriting(context, *kind, request->arguments);
  return run(context, *kind, request->arguments);
}

std::string problemsField(const std::vector<std::string>& problems) {
  std::string joined;
  for (const std::string& p : problems) joined += (joined.empty() ? "" : "; ") + p;
  return joined.empty() ? "" : " problems=" + quotedText(joined, 512);
}

// What an exchange's log line tells, gathered while it is answered; the line
// is written with the response.
struct ExchangeRecord {
  Stopwatch watch;
  std::string who = "-";
  std::string kinds;
  int app = -1;
  std::vector<std::string> problems;

  HttpResponse finish(const ServiceContext& context, HttpResponse response, std::string_view outcome) const {
    context.log.write(logTime(context.clock()) + " exchange user=" + quotedText(who) + " app=" + std::to_string(app) +
                      " requests=" + (kinds.empty() ? "-" : kinds) + " outcome=" + std::string(outcome) +
                      " ms=" + std::to_string(watch.milliseconds()) + problemsField(problems));
    return response;
  }
  HttpResponse unauthorised(const ServiceContext& context, const TokenCheck& check) {
    if (!check.user.name.empty()) who = check.user.name;
    return finish(context, errorResponse(401, tokenSentence(check)), "unauthorised");
  }
  HttpResponse answered(const ServiceContext& context, const wire::ExchangeReply& reply) const {
    const auto failed = std::count_if(reply.replies.begin(), reply.replies.end(), [](auto& r) { return r.error; });
    const std::string outcome =
        failed == 0 ? "ok" : std::to_string(failed) + "-of-" + std::to_string(reply.replies.size()) + "-failed";
    return finish(context, {200, wire::toJson(reply), {}}, outcome);
  }
  // Runs answering, run again whole on a fresh connection when a restart of
  // the database closed the one it ran on: its reads change nothing, and its
  // updates hold once.
  // Answering gives an HttpResponse, or an optional one.
  template <class Answering>
  std::invoke_result_t<const Answering&> guarded(const ServiceContext& context, const Answering& answering) {
    try {
      return storage::againIfConnectionLost(answering);
    } catch (const storage::Unreachable& e) {
      // Not the server's own answer to a handheld: it sends an update again,
      // which its identity holds once, and shows the sentence for a read.
      problems.push_back(e.what());
      return finish(context, errorResponse(503, kDatabaseFailed), "database unreachable");
    } catch (const storage::Error& e) {
      problems.push_back(e.what());
      return finish(context, errorResponse(500, kDatabaseFailed), "database error");
    }
  }
  void addKind(std::string_view kind) { kinds += (kinds.empty() ? "" : ",") + std::string(kind); }
};

HttpResponse answerQueries(storage::Connection& db, const wire::ExchangeRequest& request, const ExchangeInput& input,
                           const ServiceContext& context, std::string_view clientAddress, ExchangeRecord& record) {
  record.kinds.clear();
  const std::int64_t now = context.nowMs();
  std::optional<storage::Transaction> readTx(std::in_place, db, storage::TxMode::Read);
  const TokenCheck check = checkToken(db, request.token, request.app, now);
  if (check.status != TokenStatus::Valid) return record.unauthorised(context, check);
  record.who = check.user.name;

  queries::QueryContext queryContext{db, check.user, context, now, readTx, {}};
  queryContext.app = request.app;
  queryContext.tokenHash = check.tokenHash;
  queryContext.clientAddress = clientAddress;
  wire::ExchangeReply reply;
  for (std::size_t i = 0; i < request.queries.size(); ++i) {
    // A query that failed outside the read transaction left none open.
    if (!readTx) readTx.emplace(db, storage::TxMode::Read);
    std::string kind;
    reply.replies.push_back(answer(queryContext, request.queries[i], input.texts[i], input.textErrors[i], kind));
    record.addKind(kind);
  }
  if (readTx) readTx->commit();
  record.problems = std::move(queryContext.problems);
  return record.answered(context, reply);
}

bool isOneUpdate(const ExchangeInput& input) {
  return input.request && input.request->queries.size() == 1 && isUpdate(input.texts[0]);
}

// An exchange that is one update, as a handheld sends each change. Its token
// is read by the update's own first statement: one wait less. Refused before
// it reaches the database, its token is checked on db alone.
class OneUpdate {
 public:
  // db: the connection of the thread that runs everything but work().
  OneUpdate(storage::Connection& db, const ExchangeInput& input, const ServiceContext& context,
            std::string_view clientAddress)
      : db_(db), request_(*input.request), input_(input), context_(context), clientAddress_(clientAddress) {
    record_.app = request_.app;
  }

  // The whole exchange on this thread, waiting for the writer.
  HttpResponse answerHere() {
    return record_.guarded(context_, [&] {
      if (auto refused = refusedBeforeWriting()) return std::move(*refused);
      WriteOutcome outcome = context_.writer.write(db_, work(), rowLocked());
      return finish(outcome);
    });
  }

  // The exchange's response when it is answered without the writer (its
  // update refused, or the database failing); nullopt: work() goes to the writer.
  std::optional<HttpResponse> answeredBeforeWriting() {
    return record_.guarded(context_, [&] { return refusedBeforeWriting(); });
  }

  // Runs on the writer's connection, inside its transaction.
  WriteWork work() {
    return [this](storage::Connection& db) {
      return applyUpdate(*query_, db, *kind_, arguments(), identity_, &unchecked_);
    };
  }

  // The exchange's response once the writer gave the update's outcome.
  HttpResponse answerWritten(WriteOutcome& outcome) {
    return record_.guarded(context_, [&] { return finish(outcome); });
  }

 private:
  const nlohmann::json& arguments() const { return input_.texts[0]->arguments; }
  bool rowLocked() const { return kind_->lockRows != nullptr; }

  std::optional<HttpResponse> refusedBeforeWriting() {
    nowMs_ = context_.nowMs();
    query_.emplace(queries::QueryContext{db_, noUser_, context_, nowMs_, noReadTransaction_, {}});
    query_->app = request_.app;
    query_->clientAddress = clientAddress_;
    unchecked_ = UncheckedToken{request_.token, std::nullopt};
    identity_.reset();
    record_.kinds.clear();
    std::string kindName;
    std::optional<wire::Reply> refused =
        refusal(*query_, request_.queries[0], input_.texts[0], input_.textErrors[0], kindName, kind_);
    record_.addKind(kindName);
    if (!refused) refused = readIdentity(*query_, *kind_, arguments(), identity_);
    if (!refused) return std::nullopt;
    WriteOutcome unwritten{std::move(*refused), {}};
    return finish(unwritten);
  }

  // Moves from outcome only once the token is checked, so that a run again
  // after a lost connection finds it whole.
  HttpResponse finish(WriteOutcome& outcome) {
    // An update refused before it reached the database: its token is checked now.
    const TokenCheck check =
        unchecked_.check ? *unchecked_.check : checkToken(db_, request_.token, request_.app, nowMs_);
    if (check.status != TokenStatus::Valid) return record_.unauthorised(context_, check);
    record_.who = check.user.name;
    takeProblems(*query_, outcome);
    record_.problems = std::move(query_->problems);
    wire::ExchangeReply reply;
    reply.replies.push_back(std::move(outcome.reply));
    return record_.answered(context_, reply);
  }

  storage::Connection& db_;
  const wire::ExchangeRequest& request_;
  const ExchangeInput& input_;
  const ServiceContext& context_;
  std::string_view clientAddress_;
  ExchangeRecord record_;
  std::int64_t nowMs_ = 0;
  const User noUser_{};  // until the update's transaction reads the token
  std::optional<storage::Transaction> noReadTransaction_;
  std::optional<queries::QueryContext> query_;
  const queries::QueryKind* kind_ = nullptr;
  std::optional<Identity> identity_;
  UncheckedToken unchecked_;
};

// An exchange that is one update, with what it refers to, kept while the
// writer holds it.
struct HeldUpdate {
  HeldUpdate(storage::Connection& db, ExchangeInput in, const ServiceContext& context, std::string address)
      : input(std::move(in)), clientAddress(std::move(address)), update(db, input, context, clientAddress) {}
  ExchangeInput input;
  std::string clientAddress;
  OneUpdate update;
};

}  // namespace

ExchangeInput readExchange(std::string_view body) {
  ExchangeInput input;
  input.request = wire::parseExchangeRequest(body, input.error);
  if (!input.request) return input;
  for (const wire::Query& query : input.request->queries) {
    input.textErrors.emplace_back();
    input.texts.push_back(wire::requests::parse(query.text, input.textErrors.back()));
  }
  return input;
}

ExchangeNeeds needs(const ExchangeInput& input) {
  ExchangeNeeds most = ExchangeNeeds::ReadsOnly;
  for (const auto& text : input.texts) {
    const queries::QueryKind* kind = text ? findKind(text->kind) : nullptr;
    if (!kind) continue;  // answered as unreadable or unknown, without the database
    if (kind->name == wire::requests::kSessions) return ExchangeNeeds::PasswordCheck;
    if (kind->access != queries::Access::Read) most = ExchangeNeeds::Commit;
  }
  return most;
}

HttpResponse handleExchange(storage::Connection& db, const ExchangeInput& input, const ServiceContext& context,
                            std::string_view clientAddress) {
  ExchangeRecord record;
  if (!input.request) {
    record.problems.push_back(input.error);
    return record.finish(context, errorResponse(400, kUnreadableRequest), "malformed");
  }
  if (isOneUpdate(input)) return OneUpdate(db, input, context, clientAddress).answerHere();
  record.app = input.request->app;
  return record.guarded(context,
                        [&] { return answerQueries(db, *input.request, input, context, clientAddress, record); });
}

bool takesUpdateHere(const ExchangeInput& input, const ServiceContext& context) {
  // Only a writer with a thread of its own can take an update nobody waits on.
  return dynamic_cast<GroupWriter*>(&context.writer) && isOneUpdate(input);
}

void startUpdateExchange(storage::Connection& db, ExchangeInput& input, const ServiceContext& context,
                         std::string_view clientAddress, ThreadRunner backHere, Responder respond) {
  auto held = std::make_shared<HeldUpdate>(db, std::move(input), context, std::string(clientAddress));
  if (auto response = held->update.answeredBeforeWriting()) return respond(std::move(*response));
  static_cast<GroupWriter&>(context.writer)
      .writeThen(held->update.work(),
                 [held, backHere = std::move(backHere), respond = std::move(respond)](WriteOutcome outcome) {
                   backHere([held, respond, outcome = std::move(outcome)]() mutable {
                     respond(held->update.answerWritten(outcome));
                   });
                 });
}

}  // namespace storeserver

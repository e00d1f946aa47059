// POST /v1/exchange: checks the session token, then answers each query in order
// inside one read transaction; a query that writes goes to the server's writer
// and is answered once committed. An exchange that is one update checks its
// token inside that update's transaction instead. A bad query gets an error
// reply; the others are still answered.
#include <algorithm>

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
  const UpdateStart start =
      startUpdate(db, unchecked ? std::optional(unchecked->token) : std::nullopt, asked.app, asked.nowMs,
                  identity ? identity->updateId : "");
  if (unchecked) unchecked->check = start.token;
  // Undone unanswered: the exchange is refused as a whole for its token.
  if (start.token && start.token->status != TokenStatus::Valid) return {queries::errorReply(""), {}};
  std::optional<storage::Transaction> noReadTransaction;
  queries::QueryContext context{db, start.token ? start.token->user : asked.user, asked.services, asked.nowMs,
                                noReadTransaction, {}};
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

wire::Reply answerWriting(queries::QueryContext& context, const queries::QueryKind& kind,
                          const nlohmann::json& arguments, UncheckedToken* unchecked) {
  std::optional<Identity> identity;
  if (kind.access == queries::Access::ExactlyOnce) {
    wire::JsonReader in(arguments, "update");
    const auto id = in.text("update_id", wire::requests::kUpdateIdLength);
    if (!in.ok()) return queries::unreadableReply(context, in.error());
    if (!wire::requests::isCanonicalUpdateId(*id))
      return queries::unreadableReply(context, "update_id is not a UUID in canonical text");
    identity = Identity{*id, updateDigest(kind, context.packet, arguments)};
  }
  if (context.readTx) context.readTx->commit();
  context.readTx.reset();
  WriteOutcome outcome = context.services.writer.write(
      context.db, [&](storage::Connection& db) { return applyUpdate(context, db, kind, arguments, identity, unchecked); },
      kind.lockRows != nullptr);
  for (std::string& problem : outcome.problems) context.problems.push_back(std::move(problem));
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

// unchecked: the exchange's token, when it is to be checked inside an update's transaction.
wire::Reply answer(queries::QueryContext& context, const wire::Query& query,
                   const std::optional<wire::requests::Request>& request, const std::string& error, std::string& kind,
                   UncheckedToken* unchecked) {
  if (!request) {
    kind = "?";
    return queries::unreadableReply(context, error);
  }
  // Only the server's own names reach the requests field; what a handheld
  // sent goes to the quoted problems.
  const queries::QueryKind* k = findKind(request->kind);
  if (!k) {
    kind = "?";
    context.problems.push_back("unknown request " + printable(request->kind, 32));
    return queries::errorReply("The store server does not know this request; it may be older than the program. "
                               "Tell the back office.");
  }
  kind = k->name;
  if (k->program != context.app) {
    context.problems.push_back(kind + " sent by a log-in of program " + std::to_string(context.app));
    return queries::errorReply("Only " + std::string(programName(k->program)) +
                               " may ask the store server for this; log in from " +
                               std::string(programName(k->program)) + ".");
  }
  if (!k->packets.has(query.packet))
    return queries::unreadableReply(context, kind + " came with packet type " + std::to_string(query.packet));
  context.page = query.page;
  context.packet = query.packet;
  if (k->access != queries::Access::Read) return answerWriting(context, *k, request->arguments, unchecked);
  return run(context, *k, request->arguments);
}

std::string problemsField(const std::vector<std::string>& problems) {
  std::string joined;
  for (const std::string& p : problems) joined += (joined.empty() ? "" : "; ") + p;
  return joined.empty() ? "" : " problems=" + quotedText(joined, 512);
}

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
  const Stopwatch watch;
  std::string who = "-";
  std::string kinds;
  int app = -1;
  std::vector<std::string> problems;
  auto finish = [&](HttpResponse response, std::string_view outcome) {
    context.log.write(logTime(context.clock()) + " exchange user=" + quotedText(who) + " app=" +
                      std::to_string(app) + " requests=" + (kinds.empty() ? "-" : kinds) +
                      " outcome=" + std::string(outcome) + " ms=" + std::to_string(watch.milliseconds()) +
                      problemsField(problems));
    return response;
  };

  const auto& request = input.request;
  if (!request) {
    problems.push_back(input.error);
    return finish(errorResponse(400, kUnreadableRequest), "malformed");
  }
  app = request->app;

  // Run again whole on a fresh connection when a restart of the database closed
  // the one it ran on: its reads change nothing, and its updates hold once.
  const auto attempt = [&]() -> HttpResponse {
    kinds.clear();
    const std::int64_t now = context.nowMs();
    const auto unauthorised = [&](const TokenCheck& check) {
      if (!check.user.name.empty()) who = check.user.name;
      return finish(errorResponse(401, tokenSentence(check)), "unauthorised");
    };
    std::optional<storage::Transaction> readTx;
    TokenCheck check;
    // An exchange that is one update, as a handheld sends each change, has
    // its token read by that update's first statement: one wait less.
    std::optional<UncheckedToken> unchecked;
    if (request->queries.size() == 1 && isUpdate(input.texts[0])) {
      unchecked.emplace(UncheckedToken{request->token, std::nullopt});
    } else {
      readTx.emplace(db, storage::TxMode::Read);
      check = checkToken(db, request->token, request->app, now);
      if (check.status != TokenStatus::Valid) return unauthorised(check);
      who = check.user.name;
    }

    queries::QueryContext queryContext{db, check.user, context, now, readTx, {}};
    queryContext.app = request->app;
    queryContext.tokenHash = check.tokenHash;
    queryContext.clientAddress = clientAddress;
    wire::ExchangeReply reply;
    int failed = 0;
    for (std::size_t i = 0; i < request->queries.size(); ++i) {
      // A query that failed outside the read transaction left none open.
      if (!readTx && !unchecked) readTx.emplace(db, storage::TxMode::Read);
      std::string kind;
      reply.replies.push_back(answer(queryContext, request->queries[i], input.texts[i], input.textErrors[i], kind,
                                     unchecked ? &*unchecked : nullptr));
      if (reply.replies.back().error) ++failed;
      kinds += (kinds.empty() ? "" : ",") + kind;
    }
    if (readTx) readTx->commit();
    if (unchecked) {
      // An update refused before it reached the database: its token is checked now.
      check = unchecked->check ? *unchecked->check : checkToken(db, request->token, request->app, now);
      if (check.status != TokenStatus::Valid) return unauthorised(check);
      who = check.user.name;
    }
    problems = std::move(queryContext.problems);

    const std::string outcome =
        failed == 0 ? "ok" : std::to_string(failed) + "-of-" + std::to_string(reply.replies.size()) + "-failed";
    return finish({200, wire::toJson(reply), {}}, outcome);
  };
  try {
    return storage::againIfConnectionLost(attempt);
  } catch (const storage::Error& e) {
    problems.push_back(e.what());
    return finish(errorResponse(500, kDatabaseFailed), "database error");
  }
}

}  // namespace storeserver

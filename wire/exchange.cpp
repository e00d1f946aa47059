#include "wire/exchange.h"

#include <climits>

#include <nlohmann/json.hpp>

#include "wire/json_reader.h"
#include "wire/json_text.h"

namespace wire {

using nlohmann::json;

namespace {
constexpr std::size_t kMaxTokenLength = 128;
constexpr std::size_t kMaxReplyLength = 64 * 1024 * 1024;

// Writes one JSON object member by member straight into out, nested objects
// included, so no part of a body is built apart and copied in.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
  ObjectWriter& text(std::string_view name, std::string_view value) {
    appendJsonString(key(name), value);
    return *this;
  }
  ObjectWriter& integer(std::string_view name, long long value) {
    key(name) += std::to_string(value);
    return *this;
  }
  ObjectWriter& flag(std::string_view name, bool value) {
    key(name) += value ? "true" : "false";
    return *this;
  }
  // A member holding a list of objects, each written by write(ObjectWriter&, item).
  template <typename Item, typename Write>
  ObjectWriter& list(std::string_view name, const std::vector<Item>& items, Write write) {
    key(name) += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) out_ += ',';
      ObjectWriter item(out_);
      write(item, items[i]);
      item.close();
    }
    out_ += ']';
    return *this;
  }
  void close() { out_ += '}'; }

 private:
  std::string& key(std::string_view name) {
    out_ += first_ ? "\"" : ",\"";
    first_ = false;
    out_ += name;
    out_ += "\":";
    return out_;
  }
  std::string& out_;
  bool first_ = true;
};
}  // namespace

bool isKnownApp(int app) { return app == kAppSellin || app == kAppAdoptra || app == kAppStipendo; }

std::string toJson(const LoginRequest& r) {
  std::string out;
  ObjectWriter(out).integer("app", r.app).text("user", r.user).text("password", r.password).close();
  return out;
}

std::string toJson(const LoginReply& r) {
  std::string out;
  ObjectWriter(out).text("token", r.token).text("user", r.user).text("text", r.text).text("reply", r.reply).close();
  return out;
}

std::string toJson(const ExchangeRequest& r) {
  std::string out;
  ObjectWriter(out)
      .integer("app", r.app)
      .text("token", r.token)
      .list("queries", r.queries,
            [](ObjectWriter& q, const Query& query) {
              q.integer("packet", query.packet).text("text", query.text).integer("page", query.page);
            })
      .close();
  return out;
}

std::string toJson(const ExchangeReply& r) {
  std::string out;
  ObjectWriter(out)
      .list("replies", r.replies,
            [](ObjectWriter& reply, const Reply& p) {
              reply.flag("error", p.error)
                  .text("text", p.text)
                  .integer("page", p.page)
                  .integer("page_count", p.pageCount);
            })
      .close();
  return out;
}

std::string errorJson(std::string_view sentence) {
  std::string out;
  ObjectWriter(out).text("error", sentence).close();
  return out;
}

std::optional<LoginRequest> parseLoginRequest(std::string_view body, std::string& error) {
  JsonReader in(body, "log-in request");
  const auto app = in.integer("app", 0, INT_MAX);
  // Typed by a clerk: the server checks the lengths, with a sentence for the clerk.
  auto user = in.text("user", kMaxQueryTextLength);
  auto password = in.text("password", kMaxQueryTextLength);
  if (in.ok() && !isKnownApp(int(*app))) in.fail("The log-in request names an unknown program.");
  if (!in.ok()) {
    error = in.error();
    return std::nullopt;
  }
  return LoginRequest{int(*app), std::move(*user), std::move(*password)};
}

std::optional<LoginReply> parseLoginReply(std::string_view body, std::string& error) {
  JsonReader in(body, "log-in reply");
  auto token = in.text("token", kMaxTokenLength);
  auto user = in.text("user", kMaxUserLength);
  auto text = in.text("text", kMaxQueryTextLength);
  auto reply = in.text("reply", kMaxReplyLength);
  if (!in.ok()) {
    error = in.error();
    return std::nullopt;
  }
  return LoginReply{std::move(*token), std::move(*user), std::move(*text), std::move(*reply)};
}

namespace {

// A member as the cursor met it: absent, or its type and, for a text or a
// number, its value. A later duplicate replaces the earlier one, as in a tree.
struct Found {
  bool present = false;
  JsonCursor::Type type = JsonCursor::Type::Bad;
  std::string text;
  JsonCursor::Number number;
};

bool read(JsonCursor& in, Found& found) {
  found.present = true;
  found.type = in.peek();
  if (found.type == JsonCursor::Type::String) return in.string(found.text);
  if (found.type == JsonCursor::Type::Number) return in.number(found.number);
  return in.skip();
}

// Judges found members with the sentences of JsonReader, keeping the first.
class FoundCheck {
 public:
  explicit FoundCheck(std::string_view what) : what_(what) {}
  bool ok() const { return error_.empty(); }
  std::string& error() { return error_; }
  void fail(std::string sentence) {
    if (ok()) error_ = std::move(sentence);
  }

  std::optional<std::string> text(std::string_view name, Found& found, std::size_t maxLength) {
    if (!ok()) return std::nullopt;
    if (!found.present) fail(sentence::missing(what_, name));
    else if (found.type != JsonCursor::Type::String) fail(sentence::notText(what_, name));
    else if (found.text.size() > maxLength) fail(sentence::tooLong(what_, name, maxLength));
    if (!ok()) return std::nullopt;
    return std::move(found.text);
  }

  // fallback: the value of an absent member that may be left out.
  std::optional<std::int64_t> integer(std::string_view name, const Found& found, std::int64_t min, std::int64_t max,
                                      std::optional<std::int64_t> fallback = std::nullopt) {
    if (!ok()) return std::nullopt;
    if (!found.present && fallback) return fallback;
    const JsonCursor::Number& n = found.number;
    const bool number = found.type == JsonCursor::Type::Number;
    if (!found.present) fail(sentence::missing(what_, name));
    else if (!number || (!n.whole && !n.huge)) fail(sentence::notWhole(what_, name));
    else if (n.huge || n.value < min || n.value > max) fail(sentence::outside(what_, name, min, max));
    if (!ok()) return std::nullopt;
    return n.value;
  }

 private:
  std::string what_;
  std::string error_;
};

struct QueryFound {
  bool object = false;
  Found packet, text, page;
};

struct EnvelopeFound {
  Found app, token, queries;
  std::size_t queryCount = 0;
  std::vector<QueryFound> items;  // the first kMaxQueriesPerExchange
};

bool readQuery(JsonCursor& in, QueryFound& query) {
  if (in.peek() != JsonCursor::Type::Object) return in.skip();
  query = {};
  query.object = in.enterObject();
  std::string name;
  while (in.nextMember(name)) {
    Found* member = name == "packet" ? &query.packet
                    : name == "text" ? &query.text
                    : name == "page" ? &query.page
                                     : nullptr;
    if (!(member ? read(in, *member) : in.skip())) return false;
  }
  return in.ok();
}

bool readQueries(JsonCursor& in, EnvelopeFound& envelope) {
  envelope.queries = {true, in.peek(), {}, {}};
  envelope.queryCount = 0;
  envelope.items.clear();
  if (!in.enterArray()) return in.skip();
  QueryFound beyondLimit;
  while (in.nextItem()) {
    const bool kept = ++envelope.queryCount <= kMaxQueriesPerExchange;
    if (!readQuery(in, kept ? envelope.items.emplace_back() : beyondLimit)) return false;
  }
  return in.ok();
}

// Reads the whole body; false when it is not a JSON object.
bool readEnvelope(JsonCursor& in, EnvelopeFound& envelope) {
  if (!in.enterObject()) return false;
  std::string name;
  while (in.nextMember(name)) {
    const bool read_ = name == "app"       ? read(in, envelope.app)
                       : name == "token"   ? read(in, envelope.token)
                       : name == "queries" ? readQueries(in, envelope)
                                           : in.skip();
    if (!read_) return false;
  }
  return in.atEnd();
}

}  // namespace

// Read on every exchange, so read without building a tree; the sentences
// are those of JsonReader, in the same order.
std::optional<ExchangeRequest> parseExchangeRequest(std::string_view body, std::string& error) {
  FoundCheck in("exchange request");
  EnvelopeFound envelope;
  JsonCursor cursor(body);
  if (!nestingWithin(body, kMaxJsonDepth)) {
    in.fail(sentence::tooDeep("exchange request"));
  } else if (!readEnvelope(cursor, envelope)) {
    JsonCursor whole(body);
    const bool json = whole.skip() && whole.atEnd();
    in.fail(json ? sentence::notObject("exchange request") : sentence::notJson("exchange request"));
  }
  const auto app = in.integer("app", envelope.app, 0, INT_MAX);
  auto token = in.text("token", envelope.token, kMaxTokenLength);
  if (in.ok() && !envelope.queries.present) in.fail(sentence::missing("exchange request", "queries"));
  if (in.ok() && envelope.queries.type != JsonCursor::Type::Array)
    in.fail(sentence::notList("exchange request", "queries"));
  if (in.ok() && envelope.queryCount > kMaxQueriesPerExchange)
    in.fail(sentence::tooMany("exchange request", "queries", kMaxQueriesPerExchange));
  if (in.ok() && !isKnownApp(int(*app))) in.fail("The exchange request names an unknown program.");
  if (in.ok() && envelope.queryCount == 0) in.fail("The exchange request holds no query.");
  if (!in.ok()) {
    error = std::move(in.error());
    return std::nullopt;
  }
  ExchangeRequest request{int(*app), std::move(*token), {}};
  for (QueryFound& q : envelope.items) {
    FoundCheck item("query");
    if (!q.object) item.fail(sentence::notObject("query"));
    const auto packet = item.integer("packet", q.packet, kPacketNewItem, kPacketQuery);
    auto text = item.text("text", q.text, kMaxQueryTextLength);
    const auto page = item.integer("page", q.page, -1, INT_MAX, -1);
    if (!item.ok()) {
      error = std::move(item.error());
      return std::nullopt;
    }
    request.queries.push_back({int(*packet), std::move(*text), int(*page)});
  }
  return request;
}

std::optional<ExchangeReply> parseExchangeReply(std::string_view body, std::string& error) {
  JsonReader in(body, "server's answer");
  const json* replies = in.array("replies", kMaxQueriesPerExchange);
  if (!in.ok()) {
    error = in.error();
    return std::nullopt;
  }
  ExchangeReply reply;
  for (const json& r : *replies) {
    JsonReader item(r, "server's answer");
    const auto isError = item.flag("error");
    auto text = item.text("text", kMaxReplyLength);
    const auto page = item.integerOr("page", 0, 0, INT_MAX);
    const auto pageCount = item.integerOr("page_count", -1, -1, INT_MAX);
    if (!item.ok()) {
      error = item.error();
      return std::nullopt;
    }
    reply.replies.push_back({*isError, std::move(*text), int(*page), int(*pageCount)});
  }
  return reply;
}

std::optional<std::string> parseErrorBody(std::string_view body) {
  JsonReader in(body, "error");
  auto sentence = in.text("error", kMaxQueryTextLength);
  if (!in.ok()) return std::nullopt;
  return sentence;
}

}  // namespace wire

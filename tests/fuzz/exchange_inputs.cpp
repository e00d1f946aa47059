#include "tests/fuzz/exchange_inputs.h"

#include <climits>
#include <optional>

#include <nlohmann/json.hpp>

#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/money.h"
#include "wire/requests.h"

namespace exchangefuzz {

namespace {

using nlohmann::json;

// What a query's member holds, so its value comes from the right pool.
enum class Field {
  Store,
  StudentId,
  Flag,
  Code,
  Term,
  Department,
  Course,
  Section,
  Session,
  ItemId,
  Sku,
  Receipt,
  BuyerUser,
  Password,
  Purchaser,
  Line,
  Qty,
  Price,
  UpdateId,
};

struct Member {
  std::string_view name;
  Field field;
};

struct KindMembers {
  std::string_view kind;
  std::vector<Member> members;
};

// The members each kind's builder in wire/requests.h writes.
const std::vector<KindMembers>& kindMembers() {
  namespace r = wire::requests;
  using F = Field;
  static const std::vector<KindMembers> kinds = {
      {r::kSessions, {{"user", F::BuyerUser}, {"password", F::Password}, {"store", F::Store}}},
      {r::kAidAccounts, {{"student_id", F::StudentId}}},
      {r::kAdoptionsByStudent, {{"student_id", F::StudentId}, {"store", F::Store}, {"restrict", F::Flag}}},
      {r::kAdoptionsByItem, {{"code", F::Code}, {"store", F::Store}, {"restrict", F::Flag}}},
      {r::kAdoptionDetail,
       {{"term", F::Term},
        {"department", F::Department},
        {"course", F::Course},
        {"section", F::Section},
        {"store", F::Store}}},
      {r::kAdoptionPrint, {{"code", F::Code}, {"store", F::Store}, {"student", F::Flag}}},
      {r::kItemDetail, {{"session", F::Session}, {"code", F::Code}, {"store", F::Store}}},
      {r::kPurchasers, {{"session", F::Session}, {"item_id", F::ItemId}, {"store", F::Store}}},
      {r::kStolenItems, {{"sku", F::Sku}, {"student_id", F::StudentId}, {"store", F::Store}}},
      {r::kProduct, {{"code", F::Code}, {"store", F::Store}}},
      {r::kInventory, {{"code", F::Code}, {"store", F::Store}}},
      {r::kTicket, {{"user", F::BuyerUser}, {"student_id", F::StudentId}, {"store", F::Store}}},
      {r::kReceiptPrint, {{"receipt", F::Receipt}, {"store", F::Store}, {"copy", F::Flag}}},
      {r::kTicketItem,
       {{"update_id", F::UpdateId},
        {"receipt", F::Receipt},
        {"line", F::Line},
        {"purchaser", F::Purchaser},
        {"session", F::Session},
        {"item_id", F::ItemId},
        {"qty", F::Qty},
        {"price", F::Price}}},
      {r::kTicketTran, {{"update_id", F::UpdateId}, {"receipt", F::Receipt}}},
      {r::kTicketLines, {{"receipt", F::Receipt}, {"store", F::Store}}},
      {r::kOpenTickets, {{"store", F::Store}}},
  };
  return kinds;
}

// A kind this table does not know yet gets every member any kind takes.
const std::vector<Member>& membersOf(std::string_view kind) {
  static const std::vector<Member> every = [] {
    std::vector<Member> all;
    for (const KindMembers& k : kindMembers())
      for (const Member& m : k.members)
        if (std::none_of(all.begin(), all.end(), [&](const Member& a) { return a.name == m.name; })) all.push_back(m);
    return all;
  }();
  for (const KindMembers& k : kindMembers())
    if (k.kind == kind) return k.members;
  return every;
}

// The widest value a field takes: a text's length, a number's largest value.
std::int64_t widest(Field field) {
  switch (field) {
    case Field::Store: return wire::requests::kMaxStoreNumber;
    case Field::StudentId: return wire::requests::kMaxStudentIdLength;
    case Field::Code: return wire::requests::kMaxItemCodeLength;
    case Field::Term: return 12;
    case Field::Department:
    case Field::Course: return 8;
    case Field::Section: return 6;
    case Field::Session: return wire::requests::kMaxSessionId;
    case Field::ItemId: return wire::requests::kMaxItemIdLength;
    case Field::Sku: return wire::requests::kMaxSku;
    case Field::Receipt: return wire::requests::kMaxReceiptLength;
    case Field::BuyerUser: return wire::kMaxUserLength;
    case Field::Password: return wire::kMaxPasswordLength;
    case Field::Purchaser: return wire::requests::kMaxPurchaserLength;
    case Field::Line: return wire::requests::kMaxLineNumber;
    case Field::Qty: return 99999;
    case Field::Price: return wire::requests::kMaxPriceLength;
    case Field::UpdateId: return wire::requests::kUpdateIdLength;
    case Field::Flag: return 1;
  }
  return 1;
}

std::string repeated(std::string_view unit, std::int64_t times) {
  std::string text;
  for (std::int64_t i = 0; i < times; ++i) text += unit;
  return text;
}

std::string caseFlipped(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// A value from the edge of what a field takes, or of any type but its own;
// nullopt: the member is left out.
std::optional<json> edge(std::size_t which, Field field, const json& natural) {
  const bool text = natural.is_string();
  const std::int64_t most = widest(field);
  if (natural.is_boolean() && which % 28 >= 22 && which % 28 <= 24) return !natural.get<bool>();
  switch (which % 28) {
    case 0: return std::nullopt;
    case 1: return nullptr;
    case 2: return true;
    case 3: return 1.5;
    case 4: return json::array();
    case 5: return json::object();
    case 6: return "";
    case 7: return "   ";
    case 8: return -1;
    case 9: return 0;
    case 10: return INT64_MAX;
    case 11: return INT64_MIN;
    case 12: return UINT64_MAX;
    case 13: return text ? json(12345) : json(natural.dump());
    case 14:
      return "a\x01"
             "b\r\nc";
    case 15: return std::string("a\0b", 3);
    case 16: return "Ñandú Ω";
    case 17: return "\U0001F4DA\U0001F4DA";
    case 18:
      return "\u202e"
             "ABC";
    case 19: return text ? json(std::string(std::size_t(most), 'A')) : json(most);
    case 20: return text ? json(std::string(std::size_t(most) + 1, 'A')) : json(most + 1);
    case 21: return text ? json(repeated("é", most)) : json(std::to_string(most));
    case 22: return text ? json(caseFlipped(natural.get<std::string>())) : json(natural.get<std::int64_t>() + 1);
    case 23: return text ? json(natural.get<std::string>() + " ") : json(-natural.get<std::int64_t>());
    case 24: return text ? json(" " + natural.get<std::string>()) : json(double(natural.get<std::int64_t>()));
    case 25: return std::string(5000, 'x');  // beyond any query text
    case 26: return "\xff\xfe";
    default:
      return "\u200b"
             "\u2028";
  }
}

template <class T>
const T& pick(const std::vector<T>& pool, std::size_t choice) {
  return pool[choice % pool.size()];
}

constexpr std::int64_t kQuantities[] = {1, 2, 3, 4, 5, 10, -1, -2, -5};
constexpr const char* kPrices[] = {"0.01", "12.50", "0", "99999.99", "100000.00", "12.505", ".5", "1e3", "-1"};

std::string updateId(std::string_view group, int n) {
  std::string digits = std::to_string(n);
  return std::string(group) + std::string(12 - std::min<std::size_t>(12, digits.size()), '0') + digits;
}

// What one query is about: the ordinary value of each field comes from it.
struct Subject {
  const StoreValues::Purchase& purchase;
  const StoreValues::Section& section;
  const std::string& student;
  const std::string& code;
  std::int64_t sku;
  const StoreValues::Login* login;  // named in this query's user member, for its password
  std::string receipt;
  std::int64_t line;
  std::string updateId;
};

json natural(Field field, const StoreValues& values, const Subject& s) {
  switch (field) {
    case Field::Store: return s.purchase.store;
    case Field::StudentId: return s.student;
    case Field::Flag: return false;
    case Field::Code: return s.code;
    case Field::Term: return s.section.term;
    case Field::Department: return s.section.department;
    case Field::Course: return s.section.course;
    case Field::Section: return s.section.section;
    case Field::Session: return s.purchase.session;
    case Field::ItemId: return s.purchase.itemId;
    case Field::Sku: return s.sku;
    case Field::Receipt: return s.receipt;
    case Field::BuyerUser: return values.logins.front().name;
    case Field::Password: return (s.login ? *s.login : values.logins.front()).password;
    case Field::Purchaser: return s.purchase.purchaser;
    case Field::Line: return s.line;
    case Field::Qty: return 1;
    case Field::Price: return wire::formatCents(s.purchase.priceCents);
    case Field::UpdateId: return s.updateId;
  }
  return nullptr;
}

json pooled(Field field, std::size_t m, const StoreValues& values, const std::vector<std::string>& receipts,
            Subject& s) {
  switch (field) {
    case Field::Store: return std::int64_t(1 + m % 3);
    case Field::StudentId: return pick(values.students, m);
    case Field::Flag: return m % 2 == 1;
    case Field::Code: return pick(values.itemCodes, m);
    case Field::Term: return pick(values.sections, m).term;
    case Field::Department: return pick(values.sections, m).department;
    case Field::Course: return pick(values.sections, m).course;
    case Field::Section: return pick(values.sections, m).section;
    case Field::Session: return pick(values.purchases, m).session;
    case Field::ItemId: return pick(values.purchases, m).itemId;
    case Field::Sku: return pick(values.skus, m);
    case Field::Receipt: {
      static const std::vector<std::string> fixed = {"00000001", "00000002", "00000003", "1"};
      return m % 2 == 0 && !receipts.empty() ? pick(receipts, m / 2) : pick(fixed, m / 2);
    }
    case Field::BuyerUser: s.login = &pick(values.logins, m); return s.login->name;
    case Field::Password: return pick(values.logins, m).password;
    case Field::Purchaser: return pick(values.purchases, m).purchaser;
    case Field::Line: return std::int64_t(1 + m % 4);
    case Field::Qty: return kQuantities[m % std::size(kQuantities)];
    case Field::Price:
      return m % 2 == 0 ? wire::formatCents(pick(values.purchases, m / 2).priceCents)
                        : std::string(kPrices[(m / 2) % std::size(kPrices)]);
    case Field::UpdateId: return updateId("aaaaaaaa-0000-4000-8000-", int(m % 4));  // repeats on purpose
  }
  return nullptr;
}

// The value of one member: ordinary (0), from its pool (up to 0xBF), or an edge.
std::optional<json> value(Field field, std::uint8_t m, const StoreValues& values,
                          const std::vector<std::string>& receipts, Subject& s) {
  if (m == 0) {
    if (field == Field::BuyerUser) s.login = &values.logins.front();
    return natural(field, values, s);
  }
  if (m < 0xC0) return pooled(field, m, values, receipts, s);
  return edge(m - 0xC0, field, natural(field, values, s));
}

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// The text of a query whose object is right, shaped otherwise now and then.
std::string shaped(json object, std::uint8_t shape) {
  switch (shape < 0xE0 ? 0 : shape % 6) {
    case 1: object["note"] = "x"; return dump(object);
    case 2: object["request"] = caseFlipped(object["request"].get<std::string>()); return dump(object);
    case 3: return R"({"request":"sl_lines",)" + dump(object).substr(1);  // the name twice
    case 4: return dump(object) + "x";
    case 5: return dump(json::array({object}));
    default: return dump(object);
  }
}

constexpr int kOddPackets[] = {-1, 4, 1000, INT_MAX};
constexpr int kOddPages[] = {-2, 1000, INT_MAX, INT_MIN};
constexpr int kOddApps[] = {3, 4, -1, 1000};
constexpr std::size_t kMostQueries = 3;

}  // namespace

std::uint8_t Bytes::next() {
  if (data_.empty()) return 0;
  const auto byte = static_cast<std::uint8_t>(data_.front());
  data_.remove_prefix(1);
  return byte;
}

std::string_view Bytes::take(std::size_t count) {
  const std::string_view taken = data_.substr(0, count);
  data_.remove_prefix(taken.size());
  return taken;
}

std::string ExchangeWriter::query(Bytes& in, wire::Query& q) {
  const auto kinds = storeserver::queries::queryKinds();
  const std::size_t k = in.next() % (kinds.size() + 3);
  const std::uint8_t packet = in.next(), page = in.next(), subject = in.next(), shape = in.next();
  q.page = page < 0xC0 ? -1 : page < 0xF8 ? page % 6 : kOddPages[page % std::size(kOddPages)];
  if (k == kinds.size()) return std::string(in.take(in.next()));  // raw text
  if (k == kinds.size() + 1) return R"({"request":"sl_nothing"})";
  if (k == kinds.size() + 2) return R"({"request":17,"store":1})";

  const storeserver::queries::QueryKind& kind = kinds[k];
  std::vector<int> packets;
  for (int p = wire::kPacketNewItem; p <= wire::kPacketQuery; ++p)
    if (kind.packets.has(p)) packets.push_back(p);
  q.packet = packet < 0xE0 ? pick(packets, packet) : packet < 0xFC ? packet % 4 : kOddPackets[packet % 4];

  const bool ticketItem = kind.name == wire::requests::kTicketItem;
  if (ticketItem && q.packet == wire::kPacketNewItem) ++ticketItems_;
  Subject s{pick(values_.purchases, subject),
            pick(values_.sections, subject),
            pick(values_.students, subject),
            pick(values_.itemCodes, subject),
            pick(values_.skus, subject),
            nullptr,
            receipts_.empty() ? "00000001" : receipts_.back(),
            std::max(1, ticketItems_),
            updateId("00000000-0000-4000-8000-", ++updates_)};
  json object = {{"request", kind.name}};
  for (const Member& member : membersOf(kind.name))
    if (auto v = value(member.field, in.next(), values_, receipts_, s)) object[std::string(member.name)] = *v;
  return shaped(std::move(object), shape);
}

std::string ExchangeWriter::next(Bytes& in) {
  const Token& token = pick(tokens_, in.next());
  const std::uint8_t app = in.next(), count = in.next();
  wire::ExchangeRequest request;
  request.token = token.text;
  request.app = app < 0xC0   ? token.app
                : app < 0xF8 ? (token.app + 1 + app % 2) % 3  // a token of another program
                             : kOddApps[app % std::size(kOddApps)];
  if (count >= 0xFE) return std::string(in.take(in.next()));  // a raw body
  const std::size_t queries = count == 0xFC   ? 0
                              : count == 0xFD ? wire::kMaxQueriesPerExchange + 1
                                              : 1 + count % kMostQueries;
  for (std::size_t i = 0; i < queries; ++i) {
    wire::Query q;
    // Too many queries: the same one again, cheaply.
    q.text = i > kMostQueries ? request.queries.back().text : query(in, q);
    request.queries.push_back(std::move(q));
  }
  return wire::toJson(request);
}

}  // namespace exchangefuzz

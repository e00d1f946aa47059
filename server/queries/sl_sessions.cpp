// sl_sessions {user, password, store}: the open buying sessions of a store, for
// a buyer of that store whose own user name and password are checked here. The
// log-in then holds that buyer's rights at the store (see provenBuyer).
#include "server/auth_pool.h"
#include "server/queries/query.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

using storage::integerAt;
using storage::textAt;

namespace {

// Checks the buyer's password with no transaction open, so the hash holds no
// lock; the try is counted before, so the exchange's next query sees it.
PasswordCheck checkBuyerPassword(QueryContext& context, const std::string& name, const std::string& password) {
  return context.outsideTransaction([&] {
    return checkPassword(context.db, context.services.passwords, context.services.failures, name, password,
                         context.clientAddress, context.nowMs);
  });
}

// This log-in may now write tickets at the store for the buyer. Written at
// once, in a transaction of its own, so the exchange's next query sees it.
void recordBuyer(QueryContext& context, const User& buyer, std::int64_t store) {
  context.outsideTransaction([&] {
    storage::Transaction write(context.db, storage::TxMode::Independent);
    recordCheckedBuyer(context.db, context.tokenHash, buyer.id, store);
    write.commit();
    return true;
  });
}

}  // namespace

wire::Reply sessions(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "sl_sessions request");
  const auto buyer = in.text("user", wire::kMaxQueryTextLength);
  const auto password = in.text("password", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", INT64_MIN, INT64_MAX);
  if (!in.ok()) return unreadableReply(context, in.error());
  if (buyer->empty()) return errorReply("No buyer user name is set.");
  if (buyer->size() > wire::kMaxUserLength) return errorReply(tooLongSentence("buyer user name", wire::kMaxUserLength));
  if (password->size() > wire::kMaxPasswordLength)
    return errorReply(tooLongSentence("buyer password", wire::kMaxPasswordLength));

  // Only the password pool's threads hash: an exchange that reached another
  // one had its request's name written so as to pass the router unseen.
  if (!onAuthPool()) return unreadableReply(context, "sl_sessions was not routed to the password pool");
  const PasswordCheck check = checkBuyerPassword(context, *buyer, *password);
  if (check.exceeded) return errorReply(triesExceededSentence(*check.exceeded, printable(*buyer)));
  // A disabled buyer's right password is answered as a wrong one.
  if (!check.user) return errorReply("The buyer user name or password is wrong.");
  const User& user = *check.user;
  if (!user.canBuy) return errorReply("The user " + user.name + " may not buy books.");

  if (*store < 1 || *store > wire::requests::kMaxStoreNumber ||
      context.db.query("SELECT store_num FROM stores WHERE store_num = ?", {*store}).empty())
    return errorReply("There is no store " + std::to_string(*store) + ".");
  if (user.store != *store)
    return errorReply("The user " + user.name + " may not buy at store " + std::to_string(*store) + ".");

  const storage::Rows rows =
      context.db.query("SELECT session_id, description, student_id_required, condition_check, within_percent,"
                       " tran_warning_qty, tran_max_qty FROM buying_sessions"
                       " WHERE store_num = ? AND is_open = 1 ORDER BY session_id",
                       {*store});
  if (rows.empty()) return errorReply("No buying sessions are open at store " + std::to_string(*store) + ".");

  std::string records;
  for (const storage::Row& r : rows) {
    wire::RecordWriter record(wire::layouts::session());
    record.integer(integerAt(r, 0))
        .text(textAt(r, 1))
        .integer(integerAt(r, 2) != 0 ? 1 : 0)
        .integer(integerAt(r, 3) != 0 ? 1 : 0)
        .integer(integerAt(r, 4))
        .integer(integerAt(r, 5))
        .integer(integerAt(r, 6));
    const auto text = record.finish();
    if (!text) return unsendableReply(context, "Buying session " + std::to_string(integerAt(r, 0)), record.error());
    records += *text;
  }
  recordBuyer(context, user, *store);
  return recordsReply(std::move(records));
}

}  // namespace storeserver::queries

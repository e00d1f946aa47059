#pragma once
// Users, passwords, session tokens and the failed log-in limit. Everything
// lives in the database, so any server instance can check any token.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/login_tries.h"
#include "server/storage/storage.h"

namespace storeserver {

// Argon2id cost of new password hashes. Verifying uses the cost stored in the hash.
struct PasswordCost {
  unsigned long long opsLimit = 0;
  std::size_t memLimit = 0;

  static PasswordCost interactive();  // libsodium's interactive limits: for real users
  static PasswordCost minimum();      // the least libsodium allows: for tests
};

// libsodium must be initialised once before any of the functions below.
bool initialiseCrypto();

// Throws std::runtime_error when hashing fails (out of memory).
std::string hashPassword(std::string_view password, PasswordCost cost);
bool verifyPassword(const std::string& hash, std::string_view password);

struct User {
  std::int64_t id = 0;
  std::string name;
  std::string passwordHash;
  std::int64_t store = 0;
  bool canBuy = false;
  bool active = false;
  bool restrictLookup = false;  // the back office allows lookups at the user's own store only
  bool canManage = false;       // may use the back office for the user's own store
  bool managesChain = false;    // with canManage: for every store of the chain
};

std::optional<User> findUser(storage::Connection& db, std::string_view name);
std::optional<User> findUserById(storage::Connection& db, std::int64_t id);

// Checks a name and password; an unknown name costs one Argon2 verification
// too, so timing does not tell which names exist.
class PasswordChecker {
 public:
  explicit PasswordChecker(PasswordCost cost);
  bool matches(const std::optional<User>& user, std::string_view password) const;

 private:
  std::string decoy_;
};

// network: where the tries came from, as the reader knows it.
std::string triesExceededSentence(const TriesExceeded& exceeded, std::string_view name,
                                  std::string_view network = "this handheld's network");

// What one password try came to.
struct PasswordCheck {
  std::optional<User> user;               // the password is right and the user active
  std::optional<TriesExceeded> exceeded;  // refused before its hash ran
  // The name as tries are counted and logged: a user's own name, or for a
  // name no user has (perhaps a password in the wrong field) a keyed hash;
  // "-" when its address was refused before the name was looked at.
  std::string countedName = {};
};

// Counts the try against its name and address before the hash runs (see
// LoginTries), and forgets the name's tries when it is right. A disabled
// user's right password counts as a wrong one: the answer tells nothing of
// the account. Writes nothing; the hash runs with no transaction open.
PasswordCheck checkPassword(storage::Connection& db, const PasswordChecker& passwords, LoginTries& tries,
                            std::string_view name, std::string_view password, std::string_view address,
                            std::int64_t nowMs);

// A new random token (hex); only its hash is stored.
std::string issueToken(storage::Connection& db, const User& user, int app, std::int64_t nowMs,
                       std::chrono::milliseconds lifetime);

enum class TokenStatus { Valid, Missing, Unknown, Expired, OtherProgram, UserDisabled };

struct TokenCheck {
  TokenStatus status = TokenStatus::Unknown;
  User user;                   // filled when the token is known
  std::string tokenHash = {};  // the token's key in session_tokens
};

TokenCheck checkToken(storage::Connection& db, std::string_view token, int app, std::int64_t nowMs);
// What checkToken reads, for a statement that reads more beside it: the
// columns, first in its row, from the tables, by t.token_hash.
inline constexpr std::string_view kTokenColumns =
    "t.app, t.expires_at, u.user_id, u.user_name, u.store_num, u.can_buy, u.active, u.restrict_lookup";
inline constexpr std::size_t kTokenColumnCount = 8;
inline constexpr std::string_view kTokenTables = "session_tokens t JOIN users u ON u.user_id = t.user_id";
TokenCheck tokenCheckOf(const storage::Row& row, std::string hash, int app, std::int64_t nowMs);
// The key of a token in session_tokens.
std::string tokenHash(std::string_view token);
std::string tokenSentence(const TokenCheck& check);

// Sellin's log-in proves a buyer's rights by naming a buyer and that buyer's
// password with a store; the token keeps who and for which store.
void recordCheckedBuyer(storage::Connection& db, const std::string& tokenHash, std::int64_t buyerUserId,
                        std::int64_t store);
// The buyer whose rights a log-in holds at a store now: the buyer it checked
// for that store, or else the logged-in user; either must still be active,
// may buy, and belong to that store. nullopt when neither does.
std::optional<User> provenBuyer(storage::Connection& db, const std::string& tokenHash, std::int64_t loggedInUserId,
                                std::int64_t store);

// SHA-256 of bytes as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace storeserver

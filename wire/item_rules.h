#pragma once
// The store's buying rules for one ticket line, over exact cents: the handheld
// runs them before it sends a line (showing each finding with its icon and
// buttons), and the server runs them again on what it has stored, taking only
// the refusals, since it asks no questions.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wire::rules {

inline constexpr std::int64_t kMinQty = -9999;
inline constexpr std::int64_t kMaxQty = 99999;
inline constexpr std::int64_t kUnlimitedNeed = 99999;    // a need of "*": the purchaser takes any number
inline constexpr std::int64_t kMaxPriceCents = 9999999;  // 99999.99, the widest price a record holds
inline constexpr std::int64_t kMaxBought = 99999;

// What the rules judge a line by.
struct LineFacts {
  std::int64_t qty = 0;
  std::int64_t priceCents = 0;     // the line's unit price
  std::int64_t listedCents = 0;    // the purchaser's listed buy price; 0 or less: none
  std::int64_t buyPriceCents = 0;  // the purchaser's buy price; 0: the book has no value
  std::int64_t need = 0;           // copies still wanted without this line; kUnlimitedNeed for "*"
  std::int64_t bought = 0;         // copies bought without this line
  std::int64_t buyQty = 0;         // the purchaser's buy quantity
  std::int64_t others = 0;         // the same book on the ticket's other lines
  std::int64_t withinPercent = 0;  // the session's nearly-met percentage of the buy quantity
  std::int64_t tranWarning = 0;    // the session's per-ticket warning; 0 or less: none
  std::int64_t tranMax = 0;        // the session's per-ticket maximum; 0 or less: none
  bool conditionCheck = false;     // the session and the purchaser both ask for a condition check
};

enum class Verdict {
  Refuse,        // information icon, OK; the line may not be sent
  AskWarning,    // question, Yes/No: anything but Yes refuses
  AskNearlyMet,  // question, OK/Cancel: Cancel refuses
  AskCondition,  // question, Yes/No, asked again (after kCheckCondition) until Yes
  AskNoValue,    // question, Yes/No: anything but Yes refuses
};

struct Finding {
  Verdict verdict;
  std::string sentence;
};

// Shown (warning icon, OK) each time the buyer answers No to AskCondition.
inline constexpr const char* kCheckCondition = "Please check this books condition.";

// Every rule that speaks about the line, in the order the buyer meets them.
// The list ends at the first refusal; without one the line passes once every
// question is answered as it allows.
std::vector<Finding> check(const LineFacts& line);

// The refusal among check's findings, if any: what the server applies.
std::optional<std::string> refusal(const LineFacts& line);

}  // namespace wire::rules

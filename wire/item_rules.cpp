#include "wire/item_rules.h"

#include "wire/money.h"

namespace wire::rules {

namespace {

std::optional<std::string> priceRefusal(const LineFacts& line) {
  if (line.priceCents <= 0) return "Price must be greater than 0.00";
  if (line.priceCents > kMaxPriceCents)
    return "Price must be no more than " + formatCents(kMaxPriceCents) + ", the highest price the store takes.";
  if (line.listedCents > 0 && line.priceCents > line.listedCents)
    return "Temporary buy price must be less than the listed buy price.";
  return std::nullopt;
}

std::optional<std::string> quantityRefusal(const LineFacts& line) {
  if (line.qty == 0) return "Sellin quantity cannot be 0.";
  if (line.qty < kMinQty || line.qty > kMaxQty) return "Invalid Quantity.";
  if (line.need == 0 && line.qty > 0) return "Can only do a negative buy for this purchaser.";
  if (line.need > 0 && line.qty > line.need) return "Sellin quantity cannot exceed the need.";
  return std::nullopt;
}

std::optional<std::string> maximumRefusal(const LineFacts& line) {
  if (line.tranMax > 0 && line.others + line.qty > line.tranMax)
    return "Sellin quantity exceeds the transaction maximum of " + std::to_string(line.tranMax) + ".";
  return std::nullopt;
}

std::optional<std::string> returnRefusal(const LineFacts& line) {
  if (line.qty < 0 && line.bought + line.qty < 0) return "Cannot do negative sellin for more than the bought quantity.";
  return std::nullopt;
}

bool nearlyMet(const LineFacts& line) {
  return line.qty > 0 && line.need != kUnlimitedNeed && line.bought + line.qty > line.withinPercent * line.buyQty / 100;
}

}  // namespace

std::vector<Finding> check(const LineFacts& line) {
  std::vector<Finding> findings;
  const auto refused = [&](const std::optional<std::string>& sentence) {
    if (sentence) findings.push_back({Verdict::Refuse, *sentence});
    return sentence.has_value();
  };
  if (refused(priceRefusal(line)) || refused(quantityRefusal(line)) || refused(maximumRefusal(line))) return findings;
  if (line.tranWarning > 0 && line.others + line.qty > line.tranWarning)
    findings.push_back({Verdict::AskWarning, "Sellin quantity exceeds the transaction warning of " +
                                                 std::to_string(line.tranWarning) + ".  Accept it anyway?"});
  if (refused(returnRefusal(line))) return findings;
  if (nearlyMet(line))
    findings.push_back({Verdict::AskNearlyMet, "Sellin quantity is within " + std::to_string(line.need - line.qty) +
                                                   " of meeting the Buy quantity."});
  if (line.conditionCheck) findings.push_back({Verdict::AskCondition, "Have you checked this books condition?"});
  if (line.buyPriceCents == 0)
    findings.push_back({Verdict::AskNoValue, "THIS BOOK HAS NO VALUE!\nAre you sure you want to buy it?"});
  return findings;
}

std::optional<std::string> refusal(const LineFacts& line) {
  const std::vector<Finding> findings = check(line);
  if (!findings.empty() && findings.back().verdict == Verdict::Refuse) return findings.back().sentence;
  return std::nullopt;
}

}  // namespace wire::rules

// The shared buying rules: the order the buyer meets them in, and that the
// server's refusal is the first refusal whatever questions come before it.
#include <gtest/gtest.h>

#include "wire/framing.h"
#include "wire/item_rules.h"
#include "wire/layouts.h"
#include "wire/requests.h"

namespace {

using wire::rules::Verdict;

wire::rules::LineFacts facts() {
  wire::rules::LineFacts line;
  line.qty = 1;
  line.priceCents = 1000;
  line.listedCents = 1200;
  line.buyPriceCents = 1000;
  line.need = wire::rules::kUnlimitedNeed;
  return line;
}

std::vector<Verdict> verdicts(const wire::rules::LineFacts& line) {
  std::vector<Verdict> out;
  for (const auto& f : wire::rules::check(line)) out.push_back(f.verdict);
  return out;
}

TEST(ItemRules, QuestionsBeforeARefusalDoNotHideIt) {
  auto line = facts();
  line.qty = -3;
  line.bought = 2;
  line.others = 5;
  line.tranWarning = 1;  // a warning question comes first, then the return refusal
  EXPECT_EQ(verdicts(line), (std::vector<Verdict>{Verdict::AskWarning, Verdict::Refuse}));
  EXPECT_EQ(wire::rules::refusal(line), "Cannot do negative sellin for more than the bought quantity.");

  line.qty = -2;
  EXPECT_EQ(verdicts(line), (std::vector<Verdict>{Verdict::AskWarning}));
  EXPECT_EQ(wire::rules::refusal(line), std::nullopt);
}

TEST(ItemRules, PriceComesFirstAndQuestionsFollowInOrder) {
  auto line = facts();
  line.qty = 0;
  line.priceCents = 0;
  EXPECT_EQ(wire::rules::refusal(line), "Price must be greater than 0.00");

  line = facts();
  line.listedCents = 0;  // no listed price to stop it first
  line.priceCents = wire::rules::kMaxPriceCents;
  EXPECT_EQ(wire::rules::refusal(line), std::nullopt);
  line.priceCents += 1;
  line.qty = 0;
  EXPECT_EQ(wire::rules::refusal(line), "Price must be no more than 99999.99, the highest price the store takes.");

  line = facts();
  line.qty = 2;
  line.need = 3;
  line.bought = 7;
  line.buyQty = 10;
  line.withinPercent = 80;
  line.conditionCheck = true;
  line.buyPriceCents = 0;
  const auto found = wire::rules::check(line);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].sentence, "Sellin quantity is within 1 of meeting the Buy quantity.");
  EXPECT_EQ(found[1].verdict, Verdict::AskCondition);
  EXPECT_EQ(found[2].verdict, Verdict::AskNoValue);
}

TEST(UpdateIds, OnlyCanonicalUuidsPass) {
  EXPECT_TRUE(wire::requests::isCanonicalUpdateId("0f8fad5b-d9cb-469f-a165-70867728950e"));
  for (const char* bad : {"0F8FAD5B-D9CB-469F-A165-70867728950E", "0f8fad5b-d9cb-469f-a165-70867728950",
                          "0f8fad5bd9cb-469f-a165-70867728950e0", "0f8fad5b-d9cb-469f-a165-70867728950g"})
    EXPECT_FALSE(wire::requests::isCanonicalUpdateId(bad)) << bad;
  std::string accents;
  for (int i = 0; i < 18; ++i) accents += "\xc3\xa9";  // 36 bytes, 18 characters
  EXPECT_FALSE(wire::requests::isCanonicalUpdateId(accents));
}

TEST(MixedRecords, EachRecordIsCutAtItsOwnLength) {
  wire::RecordWriter line(wire::layouts::ticketLine());
  line.integer(1).integer(1002).text("B0000000").text("Ostrand").integer(-2).money(1250);
  wire::RecordWriter open(wire::layouts::openTicket());
  open.text("00000003").text("S1").text("2026-12-07").integer(2).money(-250);
  const std::string reply = *line.finish() + *open.finish();
  const std::u16string text(reply.begin(), reply.end());
  bool malformed = true;
  const auto spans = wire::cutMixedRecords(text, malformed);
  EXPECT_FALSE(malformed);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[1].offset, wire::layouts::ticketLine().dataSize());
  EXPECT_EQ(spans[1].length, wire::layouts::openTicket().dataSize());

  const std::u16string cut = text.substr(0, text.size() - 3);
  EXPECT_EQ(wire::cutMixedRecords(cut, malformed).size(), 1u);
  EXPECT_TRUE(malformed);
  EXPECT_TRUE(wire::cutMixedRecords(u"TLN-0001", malformed).empty());
  EXPECT_TRUE(malformed);
}

}  // namespace

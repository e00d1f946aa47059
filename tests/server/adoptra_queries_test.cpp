// Adoptra's queries on the demo data: lookups and their problems, own-store restriction, detail, printout.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using namespace wire::requests;

class Adoptra : public ServerTest {
 protected:
  wire::Reply askAdoptra(const std::string& text) const { return ask(text, wire::kAppAdoptra); }  // clerk, store 1
};

// The reply split as the handheld splits it: sections, then problems.
std::pair<std::vector<std::string>, std::vector<std::string>> sectionsAndProblems(const wire::Reply& reply) {
  const std::size_t marker = reply.text.find("\rPRB");
  const wire::Reply courses{false, reply.text.substr(0, marker == std::string::npos ? marker : marker + 1), 0, -1};
  const wire::Reply problems{false, marker == std::string::npos ? "" : reply.text.substr(marker + 1), 0, -1};
  return {rows(courses, wire::layouts::adoption(), {"term", "department", "course", "section", "term_open"}),
          rows(problems, wire::layouts::adoptionProblem(), {"term", "sku", "reason"})};
}

TEST_F(Adoptra, LookUpsListTheSectionsByTrimmedNamesThenTheirProblems) {
  const auto [sections, problems] = sectionsAndProblems(askAdoptra(adoptionsByStudent("S100200", 1, false)));
  EXPECT_EQ(sections,
            (std::vector<std::string>{"SPRING 2026|BIO|100|01|0", "FALL 2026|BIO|101|01|1", "FALL 2026| CHEM|110|01|1",
                                      "  SUMMER 26|CS|150|S1|0", "SPRING 2027|  ENG|102|03|1",
                                      "FALL 2026|HIST| 205|  A|1", "SPRING 2027|MATH|220|01|1"}));
  EXPECT_EQ(problems,
            (std::vector<std::string>{"FALL 2026|00010001|Wrong edition ordered", "FALL 2026|00010003|Late shipment",
                                      "SPRING 2027|00010006|Price increase"}));
  // ISBN-10 with X, SKU and ISBN-13 with hyphens name the same kind of answer.
  for (const std::string code : {"032157351X", "10002", "978-0-321-57351-3"}) {
    const auto [byItem, itemProblems] = sectionsAndProblems(askAdoptra(adoptionsByItem(code, 1, false)));
    EXPECT_EQ(byItem, (std::vector<std::string>{"  SUMMER 26|CS|150|S1|0", "SPRING 2027|MATH|220|01|1"})) << code;
    EXPECT_TRUE(itemProblems.empty()) << code;
  }
  // Unrestricted, a handheld may look up another store; restricted, its own.
  EXPECT_EQ(sectionsAndProblems(askAdoptra(adoptionsByStudent("S100200", 2, false))).first,
            (std::vector<std::string>{"FALL 2026|BIO|101|N1|1"}));
  EXPECT_EQ(sectionsAndProblems(askAdoptra(adoptionsByItem("10002", 1, true))).first.size(), 2u);
  // A carriage return stored inside a field must not start a problem list.
  sideConnection()->execute(
      "UPDATE adoption_sections SET campus = 'North' || char(13) || 'PRB00117' WHERE section_id = 8");
  const wire::Reply marked = askAdoptra(adoptionsByItem("10002", 1, false));
  EXPECT_EQ(marked.text.find("\rPRB"), std::string::npos) << marked.text;
  EXPECT_EQ(sectionsAndProblems(marked).first.size(), 2u);
}

// Nothing found is always a sentence, never an empty success.
TEST_F(Adoptra, NothingFoundIsASentence) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {adoptionsByStudent("S100100", 1, false), "Student S100100 has no course books at store 1."},
      {adoptionsByStudent("S999999", 1, false), "No student has the ID S999999."},
      {adoptionsByStudent("   ", 1, false), "Type or scan a student ID."},
      {adoptionsByStudent("S100\u2066200", 1, false), "The student ID holds the invisible direction mark U+2066."},
      {adoptionsByStudent("S100300", 3, false), "Student S100300 has no course books at store 3."},
      {adoptionsByItem("10012", 1, false), "No course section at store 1 has adopted the book 9780393310009."},
      {adoptionsByItem("9780134685992", 1, false),
       "The ISBN 9780134685992 has a wrong check digit: check the code or type it again."},
      {adoptionsByItem("99999", 1, false), "No course book has the SKU 99999."},
      {adoptionsByItem("K1000", 1, false), "K1000 is not a SKU or an ISBN. Check the code and try again."},
      {adoptionsByItem("", 1, false), "Type or scan a SKU or an ISBN."},
      {adoptionsByStudent("S100200", 42, false), "There is no store 42."},
      {adoptionDetail("FALL 2026", "BIO", "101", "01", 2), "Store 2 has no course BIO 101 section 01 of FALL 2026."},
      {adoptionDetail("FALL 2026", "BIO", "101", " 01", 1), "Store 1 has no course BIO 101 section  01 of FALL 2026."},
      {adoptionPrint("S100100", 1, true), "Student S100100 has no course books at store 1."},
      {adoptionsByStudent("S100200", 2, true), "This handheld may look up only its own store, store 1."},
  };
  sideConnection()->execute("UPDATE users SET restrict_lookup = 1 WHERE user_name = 'clerk'");
  for (const auto& text : {adoptionsByStudent("S100200", 2, false), adoptionDetail("FALL 2026", "BIO", "101", "N1", 2),
                           adoptionPrint("S100200", 2, true)})
    EXPECT_EQ(askAdoptra(text).text, "The user clerk may look up only store 1.") << text;
  sideConnection()->execute("UPDATE users SET restrict_lookup = 0 WHERE user_name = 'clerk'");
  for (const auto& [text, sentence] : cases) {
    const wire::Reply reply = askAdoptra(text);
    EXPECT_TRUE(reply.error) << text;
    EXPECT_EQ(reply.text, sentence) << text;
  }
}

TEST_F(Adoptra, DetailMatchesTheSectionTextsAsSentWithThisStoresStockAndThePrintoutFits42Columns) {
  EXPECT_EQ(rows(askAdoptra(adoptionDetail("FALL 2026", "HIST", " 205", "  A", 1)), wire::layouts::adoptionDetail(),
                 {"sku", "cat_isbn", "new_price", "used_price", "new_on_hand", "used_on_hand", "request_type",
                  "problem", "store_num"}),
            (std::vector<std::string>{"00010009|9780312404611|00119.00|00089.25|00009|00004|1|0|0001",
                                      "00010011|9781603094009|00045.50|00034.15|00000|00000|2|0|0001"}));
  EXPECT_EQ(rows(askAdoptra(adoptionDetail("FALL 2026", "BIO", "101", "N1", 2)), wire::layouts::adoptionDetail(),
                 {"sku", "new_on_hand", "problem", "store_num"}),
            (std::vector<std::string>{"00010003|00007|1|0002", "00010001|00002|0|0002"}));
  // Deployed handhelds read the detail records as they were first laid out, cut at the reply's own length.
  using wire::FieldKind;
  const wire::RecordLayout firstLayout("ADD", {{"sku", 8, FieldKind::Integer},
                                               {"cat_isbn", 13, FieldKind::Text},
                                               {"description", 40, FieldKind::Text},
                                               {"new_price", 8, FieldKind::Money},
                                               {"used_price", 8, FieldKind::Money},
                                               {"new_on_hand", 5, FieldKind::Integer},
                                               {"used_on_hand", 5, FieldKind::Integer},
                                               {"request_type", 1, FieldKind::Integer},
                                               {"problem", 1, FieldKind::Integer},
                                               {"store_num", 4, FieldKind::Integer}});
  const wire::Reply chemistry = askAdoptra(adoptionDetail("FALL 2026", " CHEM", "110", "01", 1));
  const std::u16string text = wire::toUtf16(chemistry.text);
  std::vector<std::string> firstLayoutRows;
  for (const wire::RecordSpan& span : wire::cutRecords(text, firstLayout.dataSize()))
    firstLayoutRows.push_back(fieldsOf(std::u16string_view(text).substr(span.offset, span.length), firstLayout,
                                       {"sku", "description", "store_num"}));
  EXPECT_EQ(firstLayoutRows, (std::vector<std::string>{"00010005|Chemistry: The Molecular Nature of Matt…|0001",
                                                       "00010001|Effective Java, Third Edition|0001"}));

  const wire::Reply reply = askAdoptra(adoptionPrint("S100200", 1, true));
  ASSERT_FALSE(reply.error) << reply.text;
  EXPECT_TRUE(reply.text.starts_with("Main Campus Bookstore\r\nCourse books for student S100200\r\n")) << reply.text;
  EXPECT_NE(reply.text.find("  Chemistry: The Molecular Nature of\r\n  Matter & Change, 8th Ed.\r\n"),
            std::string::npos)
      << "a long title is not wrapped at a blank: " << reply.text;
  EXPECT_NE(reply.text.find("Problem reports\r\n"), std::string::npos);
  printLines(reply.text);
  EXPECT_TRUE(askAdoptra(adoptionPrint("0134685997", 1, false)).text.find("for the book 9780134685991\r\n") !=
              std::string::npos);
}

}  // namespace
}  // namespace servertest

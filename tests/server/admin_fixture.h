#pragma once
// The back office under the real server: a browser's requests (cookie, form,
// origin) over real HTTP, and what its pages show.
#include <regex>

#include "server_fixture.h"

namespace servertest {

// A browser's view of the back office: its session cookie and the last page's form token.
class AdminBrowser {
 public:
  AdminBrowser(int port, std::string scheme = "http")
      : port_(port), origin_(scheme + "://127.0.0.1:" + std::to_string(port)) {}

  // Posts the log-in form; keeps the cookie the answer sets.
  Answer logIn(const std::string& name, const std::string& password) {
    Answer a = post("/admin/login", {{"name", name}, {"password", password}});
    const std::string set = a.header("Set-Cookie");
    if (!set.empty()) cookie_ = set.substr(0, set.find(';'));
    return a;
  }
  Answer get(const std::string& path) {
    Answer a = toAnswer(client().Get(path.c_str(), headers()));
    std::smatch token;
    if (std::regex_search(a.body, token, std::regex(R"re(name="csrf" value="([0-9a-f]+)")re"))) csrf_ = token[1];
    return a;
  }
  // The form as a browser sends it, with the last page's form token unless the fields name one.
  Answer post(const std::string& path, httplib::Params fields, const std::string& origin = "") {
    if (!csrf_.empty() && !fields.count("csrf")) fields.emplace("csrf", csrf_);
    httplib::Headers h = headers();
    h.emplace("Origin", origin.empty() ? origin_ : origin);
    return toAnswer(client().Post(path.c_str(), h, fields));
  }
  // A file chosen on the Import page and sent.
  Answer upload(const std::string& kind, const std::string& content) {
    httplib::Headers h = headers();
    h.emplace("Origin", origin_);
    const httplib::MultipartFormDataItems items = {
        {"csrf", csrf_, "", ""}, {"kind", kind, "", ""}, {"file", content, kind + ".csv", "text/csv"}};
    return toAnswer(client().Post("/admin/import", h, items));
  }
  const std::string& cookie() const { return cookie_; }
  const std::string& csrf() const { return csrf_; }

 private:
  httplib::Headers headers() const {
    return cookie_.empty() ? httplib::Headers{} : httplib::Headers{{"Cookie", cookie_}};
  }
  httplib::Client client() const { return localClient(port_); }

  int port_;
  std::string origin_;
  std::string cookie_;
  std::string csrf_;
};

// Text of a page as a browser shows it, its entities read.
inline std::string htmlText(std::string text) {
  for (const auto& [entity, character] :
       {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}})
    text = std::regex_replace(text, std::regex(entity), character);
  return text;
}

// The rows of a page's table, each its cells' texts without their tags, joined by '|'; with headings, the rows
// of headings too (a total's, a group's) and their heading cells.
inline std::vector<std::string> tableRows(const std::string& body, const std::string& id, bool headings = false) {
  const std::size_t start = body.find("<table id=\"" + id + "\"");
  if (start == std::string::npos) return {"(no table " + id + ")"};
  const std::string table = body.substr(start, body.find("</table>", start) - start);
  const std::regex row(headings ? "<tr[^>]*>(.*?)</tr>" : "<tr>(.*?)</tr>"),
      cell(headings ? "<t[dh][^>]*>(.*?)</t[dh]>" : "<td[^>]*>(.*?)</td>"), tag("<[^>]*>");
  std::vector<std::string> rows;
  for (std::sregex_iterator r(table.begin(), table.end(), row), end; r != end; ++r) {
    const std::string cells = (*r)[1];
    std::string line;
    for (std::sregex_iterator c(cells.begin(), cells.end(), cell); c != end; ++c)
      line += (line.empty() ? "" : "|") + std::regex_replace((*c)[1].str(), tag, "");
    if (!line.empty()) rows.push_back(line);
  }
  return rows;
}

// The text of a page's problem or notice paragraph as a browser shows it; empty when none.
inline std::string pageSentence(const std::string& body, const std::string& kind = "problem") {
  std::smatch found;
  if (!std::regex_search(body, found, std::regex("<p class=\"" + kind + "\"[^>]*>([^<]*)</p>"))) return "";
  return htmlText(found[1]);
}

// The page's answer to a refused form whose token or origin is not the back office's own.
inline const std::string kFormRefused =
    "This form did not come from this back office, or its page is too old; nothing was changed. Open the page again "
    "and repeat the change.";

// The sentence a form's answer shows: its notice when done, its problem when refused.
inline std::string answerSentence(const Answer& a) {
  return pageSentence(a.body, a.status == 200 ? "notice" : "problem");
}

class AdminTest : public BackendServerTest {
 protected:
  AdminBrowser browser() const { return AdminBrowser(port_); }
  // A browser signed in as a manager, on that manager's status page.
  AdminBrowser signedIn(const std::string& name, const std::string& password) const {
    AdminBrowser b = browser();
    const Answer a = b.logIn(name, password);
    EXPECT_EQ(a.status, 303) << name << ": " << pageSentence(a.body);
    EXPECT_EQ(b.get("/admin/status").status, 200);
    return b;
  }
  std::string isbnOf(const std::string& itemId) const {
    return texts("SELECT isbn13 FROM books WHERE item_id = '" + itemId + "'").at(0);
  }
};

// The back office beside store 1's buyer, who buys on Sellin through the exchange.
class BuyerAdminTest : public AdminTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    token_ = login(wire::kAppSellin, "buyer", "buyer1");
  }
  std::string item(const std::string& receipt, const LineArgs& a = {}) const {
    return sellin(token_, itemText(receipt, a), wire::kPacketNewItem);
  }
  // Ends the ticket as the handheld's End does, or with kPacketDelete voids it.
  std::string end(const std::string& receipt, int packet = wire::kPacketChange) const {
    return sellin(token_, wire::requests::ticketTran(newUpdateId(), receipt), packet);
  }
  // A ticket of these lines, numbered in order, then ended (kEnd), voided (kVoid) or left open (kLeftOpen).
  std::string ticket(std::vector<LineArgs> lines, int closing, const std::string& student = "") const {
    const std::string receipt = openTicket(token_, student);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      lines[i].line = static_cast<std::int64_t>(i) + 1;
      EXPECT_EQ(item(receipt, lines[i]), "ok") << lines[i].itemId;
    }
    if (closing != kLeftOpen) {
      EXPECT_EQ(end(receipt, closing), "ok") << receipt;
    }
    return receipt;
  }
  static constexpr int kEnd = wire::kPacketChange;
  static constexpr int kVoid = wire::kPacketDelete;
  static constexpr int kLeftOpen = 0;
  // How many copies of the book Ostrand bought in session 1002.
  std::string bought(const std::string& itemId = "B0000001") const {
    return texts("SELECT '' || bought_qty FROM book_purchasers WHERE session_id = 1002 AND item_id = '" + itemId +
                 "' AND purchaser = 'Ostrand Company'")
        .at(0);
  }

  std::string token_;
};

}  // namespace servertest

"""The whole buy as a store's manager runs it in the browser: a session
prepared from the store's adoptions and a wholesaler's file, a handheld's buy
against it through the exchange, the buyer's drawer counted and closed, and
the day's sheet, the purchaser's packing list and its labels printed."""
import base64
import os
import re
import tempfile
import unittest
import urllib.parse

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from admin_browser import DEMO_MANAGER, AdminBrowserTest, Handheld


def money(cents):
    """An amount as the pages show it: "$1,454.60"."""
    return f"${cents // 100:,}.{cents % 100:02d}"


class WholeBuy(AdminBrowserTest):
    def csv_file(self, text):
        with tempfile.NamedTemporaryFile("w", suffix=".csv", newline="", delete=False) as file:
            file.write(text)
        self.addCleanup(os.remove, file.name)
        return file.name

    def assert_prints_alone(self, what):
        """On one sheet of paper, without the navigation, the forms or the links around it."""
        pdf = base64.b64decode(self.driver.print_page())
        self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", pdf)), 1, what + " printed on more than one page")
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": "print"})
        printed = [e.tag_name for e in self.driver.find_elements(By.CSS_SELECTOR, "header, nav, form, .no-print")
                   if e.is_displayed()]
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": ""})
        self.assertEqual(printed, [], what + " printed with the page around it")

    def prepare_session(self):
        """A new session with the store's own list of next term and a wholesaler's list; its number and the
        store's purchaser name."""
        self.open("sessions", "?store=1")
        self.driver.find_element(By.XPATH, "//summary[.='Add a buying session']").click()
        self.type_into("new-description", "Fall 2027 buyback")
        self.follow(By.XPATH, "//button[.='Add the session']")
        added = re.fullmatch(r"Session (\d+) added, closed: bring in its buy lists, then open it\.",
                             self.sentence("notice"))
        self.assertTrue(added, self.sentence("notice"))
        session = added.group(1)

        self.open("sessions", f"?store=1&session={session}")
        self.driver.find_element(By.XPATH, "//summary[contains(., 'adoptions')]").click()
        Select(self.driver.find_element(By.ID, "adoption-term")).select_by_value("FALL 2027")
        store = self.driver.find_element(By.ID, "adoption-purchaser").get_attribute("value")
        self.follow(By.XPATH, "//form[.//select[@id='adoption-term']]//button[.='Preview']")
        summary = self.driver.find_element(By.ID, "adoption-summary").text
        # The preview's last column: what storing does to each book's row, "new" in a new session.
        changes = [cell.text for cell in self.driver.find_elements(By.CSS_SELECTOR, "#adoption-rows td:last-child")]
        self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#adoption-apart tbody tr")), 2,
                         "the book with a problem and the one without a new price are listed apart")
        self.follow(By.XPATH, "//button[.='Store the list']")
        self.assertIn(summary.split(";")[0], self.sentence("notice"))
        own = self.driver.find_elements(By.XPATH, f"//table[@id='purchases']//tr[td[3][.='{store}']]")
        self.assertEqual(len(own), changes.count("new"), changes)
        self.assertGreater(len(own), 1)

        isbns = [row.find_element(By.TAG_NAME, "td").text for row in own]
        self.driver.find_element(By.XPATH, "//summary[.=\"Bring in a purchaser's buy list\"]").click()
        self.type_into("list-purchaser", "Campus Wholesale")
        self.driver.find_element(By.ID, "list-file").send_keys(
            self.csv_file(f"isbn,quantity,price\r\n{isbns[0]},no limit,2.00\r\n{isbns[1]},3,4.50\r\n"))
        self.follow(By.XPATH, "//button[.='Preview']")
        self.assertEqual(self.driver.find_element(By.ID, "preview-summary").text, "2 new rows, 0 changed, 0 as it was.")
        self.follow(By.XPATH, "//button[.='Store the list']")
        self.assertEqual(self.sentence("notice"), f"The buy list of Campus Wholesale is stored in session {session}: "
                                                  "2 new rows, 0 changed, 0 as it was.")
        self.assertEqual(self.driver.find_elements(By.ID, "preview-summary"), [], "stored, nothing is previewed")

        self.follow(By.XPATH, "//button[.='Open the session']")
        return session, store

    def purchase_cells(self, store, isbn=None):
        """The session page's row of the store's purchase of the book, or of its first book: its cells and the row."""
        book = f" and td[1][.='{isbn}']" if isbn else ""
        row = self.driver.find_element(By.XPATH, f"//table[@id='purchases']//tr[td[3][.='{store}']{book}]")
        return [cell.text for cell in row.find_elements(By.TAG_NAME, "td")], row

    def test_a_session_from_the_adoptions_bought_against_counted_and_shipped(self):
        self.log_in(*DEMO_MANAGER)
        session, store = self.prepare_session()

        # A buyer buys one copy of the store's first book on a handheld; the session's page follows.
        cells, row = self.purchase_cells(store)
        isbn, title, bought, price = cells[0], cells[1], int(cells[5]), cells[7]
        edit = urllib.parse.urlparse(row.find_element(By.LINK_TEXT, "Edit").get_attribute("href"))
        item = urllib.parse.parse_qs(edit.query)["edit_item"][0]
        handheld = Handheld(self.server.base)
        receipt = handheld.open_ticket(student="S200001")
        handheld.buy(receipt, item=item, price=price.lstrip("$"), purchaser=store, session=int(session))
        handheld.end(receipt)
        self.driver.refresh()
        self.assertEqual(int(self.purchase_cells(store, isbn)[0][5]), bought + 1)

        # After: the buyer's drawer opened, counted short by a dollar and closed; the day's sheet.
        self.open("drawers", "?store=1")
        Select(self.driver.find_element(By.ID, "buyer")).select_by_value("buyer")
        self.type_into("start", "1500")
        self.follow(By.XPATH, "//button[.='Open the drawer']")
        self.follow(By.LINK_TEXT, "buyer")
        expected = 150000 - int(price.lstrip("$").replace(",", "").replace(".", ""))
        self.type_into("counted", f"{(expected - 100) // 100}.{(expected - 100) % 100:02d}")
        self.follow(By.XPATH, "//button[.='Enter the count']")
        self.follow(By.XPATH, "//button[.='Close and sign the drawer']")
        self.assertRegex(self.sentence("notice"),
                         r"^The drawer of buyer for \d{4}-\d\d-\d\d is closed, signed by office\.$")
        self.follow(By.PARTIAL_LINK_TEXT, "The sheet of")
        self.assertEqual(self.cells("sheet-table", "buyer")[1:8],
                         ["$1,500.00", "$0.00", "$0.00", price, money(expected), money(expected - 100), "$1.00 short"])
        self.assert_prints_alone("the day's sheet")

        # The store's packing list and labels of what the ended ticket bought.
        self.open("sessions", f"?store=1&session={session}")
        self.follow(By.XPATH, f"//a[starts-with(@href, '/admin/shipping') and .='{store}']")
        self.assertEqual(self.cells("packing", isbn), [isbn, title, "1", price, price])
        self.assert_prints_alone("the packing list")
        self.follow(By.LINK_TEXT, "Labels, one per copy")
        labels = [label.text for label in self.driver.find_elements(By.CSS_SELECTOR, "#labels .label")]
        self.assertEqual(labels, [f"{store}\nISBN {isbn}\n{title}\nReceipt {receipt} · session {session}"])
        self.assert_prints_alone("the labels")


if __name__ == "__main__":
    unittest.main()

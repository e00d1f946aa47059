"""Buying sessions, tickets and receipts as a manager follows them in the
browser while a Sellin handheld buys through the exchange."""
import base64
import json
import os
import re
import tempfile
import unittest
import urllib.request
import uuid

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from admin_browser import DEMO_MANAGER, AdminBrowserTest

SELLIN = 0
NEW_ITEM, END = 0, 2
QUERY = 3


class Handheld:
    """A Sellin handheld's log-in and exchanges, as JSON over HTTP the way it sends them."""

    def __init__(self, base, user="buyer", password="buyer1"):
        self.base = base
        self.token = self.post("/v1/login", {"app": SELLIN, "user": user, "password": password})["token"]

    def post(self, path, body):
        request = urllib.request.Request(self.base + path, json.dumps(body).encode(),
                                         {"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            return json.load(answer)

    def ask(self, packet, request):
        query = {"packet": packet, "text": json.dumps(request), "page": -1}
        reply = self.post("/v1/exchange", {"app": SELLIN, "token": self.token, "queries": [query]})["replies"][0]
        if reply["error"]:
            raise AssertionError(reply["text"])
        return reply["text"]

    def open_ticket(self):
        record = self.ask(QUERY, {"request": "sl_ticket", "user": "buyer", "student_id": "", "store": 1})
        return record[8:18].strip()  # the receipt field of the RCT record

    def buy(self, receipt, line=1, item="B0000001", price="12.50"):
        self.ask(NEW_ITEM, {"request": "sl_item", "update_id": str(uuid.uuid4()), "receipt": receipt, "line": line,
                            "purchaser": "Ostrand Company", "session": 1002, "item_id": item, "qty": 1,
                            "price": price})

    def end(self, receipt):
        self.ask(END, {"request": "sl_tran", "update_id": str(uuid.uuid4()), "receipt": receipt})


class AdminPages(AdminBrowserTest):
    def setUp(self):
        super().setUp()
        self.handheld = Handheld(self.server.base)
        self.log_in(*DEMO_MANAGER)

    def cells(self, table_id, first_cell):
        row = self.driver.find_element(By.XPATH, f"//table[@id='{table_id}']//tr[td[1][normalize-space()='{first_cell}']]")
        return [cell.text for cell in row.find_elements(By.TAG_NAME, "td")]

    def test_a_sessions_progress_follows_a_handhelds_buy(self):
        self.open("sessions", "?store=1")
        self.follow(By.LINK_TEXT, "1002")
        self.driver.find_element(By.XPATH, "//select[@id='purchaser']/option[.='Ostrand Company']").click()
        self.follow(By.XPATH, "//form[.//select[@id='purchaser']]//button[.='Show']")
        isbn = "9780001000377"  # book B0000001
        before = self.cells("purchases", isbn)
        self.assertEqual(before[2], "Ostrand Company")

        self.handheld.buy(self.handheld.open_ticket())
        self.driver.refresh()
        after = self.cells("purchases", isbn)
        self.assertEqual(int(after[5]), int(before[5]) + 1, "bought")

    def test_a_buy_list_is_previewed_then_stored_as_previewed(self):
        self.open("sessions", "?store=1&session=1002")
        isbns = sorted({cell.text for cell in self.driver.find_elements(By.CSS_SELECTOR, "#purchases td:first-child")})
        with tempfile.NamedTemporaryFile("w", suffix=".csv", newline="", delete=False) as file:
            file.write("isbn,quantity,price\r\n" + f"{isbns[0]},no limit,2.00\r\n" + f"{isbns[1]},3,4.50\r\n")
        self.addCleanup(os.remove, file.name)
        self.driver.find_element(By.XPATH, "//summary[.=\"Bring in a purchaser's buy list\"]").click()
        self.type_into("list-purchaser", "Campus Wholesale")
        self.driver.find_element(By.ID, "list-file").send_keys(file.name)
        self.follow(By.XPATH, "//button[.='Preview']")
        self.assertEqual(self.driver.find_element(By.ID, "preview-summary").text, "2 new rows, 0 changed, 0 as it was.")

        self.follow(By.XPATH, "//button[.='Store the list']")
        self.assertEqual(self.sentence("notice"), "The buy list of Campus Wholesale is stored in session 1002: "
                                                  "2 new rows, 0 changed, 0 as it was.")
        self.assertEqual(self.driver.find_elements(By.ID, "preview-summary"), [], "stored, nothing is previewed")

    def test_a_days_cash_per_buyer_counts_ended_and_open_tickets(self):
        paid = self.handheld.open_ticket()
        self.handheld.buy(paid)
        self.handheld.buy(paid, line=2, item="B0000000", price="1.00")
        self.handheld.end(paid)
        self.handheld.buy(self.handheld.open_ticket(), item="B0000000", price="1.00")

        self.open("tickets", "?store=1")
        self.assertEqual(self.cells("cash", "buyer"), ["buyer", "1", "$13.50", "1", "$1.00", "0"])
        self.assertEqual(self.cells("tickets", paid)[1:], ["buyer", "", "2", "$13.50", "ended"])

    def test_a_ticket_left_open_is_voided_and_found_in_its_audit_trail(self):
        left = self.handheld.open_ticket()
        self.handheld.buy(left)
        self.open("tickets", "?store=1")
        self.follow(By.LINK_TEXT, left)
        self.type_into("reason", "buyer went home")
        self.follow(By.XPATH, "//button[.='Void the ticket']")
        self.assertEqual(self.sentence("notice"), f"Ticket {left} voided: its lines were taken back.")
        trail = [row.text for row in self.driver.find_elements(By.CSS_SELECTOR, "#trail tbody tr")]
        self.assertIn("office ticket void open ended in the back office: buyer went home", trail[-1])
        self.assertEqual(self.driver.find_elements(By.ID, "reason"), [], "an ended ticket offers no form")
        self.assertRegex(self.driver.find_element(By.XPATH, "//h2/following-sibling::p[1]").text,
                         r"; voided \d{4}-\d\d-\d\d \d\d:\d\d UTC by office: buyer went home\.")

    def test_a_drawer_is_counted_and_closed_and_its_day_prints_on_one_page_without_the_navigation(self):
        paid = self.handheld.open_ticket()
        self.handheld.buy(paid)
        self.handheld.end(paid)
        self.open("drawers", "?store=1")
        Select(self.driver.find_element(By.ID, "buyer")).select_by_value("buyer")
        self.type_into("start", "1500")
        self.follow(By.XPATH, "//button[.='Open the drawer']")
        self.follow(By.LINK_TEXT, "buyer")
        self.type_into("counted", "1487.50")
        self.follow(By.XPATH, "//button[.='Enter the count']")
        self.follow(By.XPATH, "//button[.='Close and sign the drawer']")
        self.assertRegex(self.sentence("notice"), r"^The drawer of buyer for \d{4}-\d\d-\d\d is closed, signed by office\.$")
        self.follow(By.PARTIAL_LINK_TEXT, "The sheet of")
        self.assertEqual(self.cells("sheet-table", "buyer")[1:9],
                         ["$1,500.00", "$0.00", "$0.00", "$12.50", "$1,487.50", "$1,487.50", "even", "$0.00"])

        pdf = base64.b64decode(self.driver.print_page())
        self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", pdf)), 1, "the day's sheet printed on more than one page")
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": "print"})
        for shown in self.driver.find_elements(By.CSS_SELECTOR, "header, nav, form"):
            self.assertFalse(shown.is_displayed(), shown.tag_name + " printed")

    def overflowing(self, selector):
        """The page itself and its elements of selector that scroll sideways."""
        return self.driver.execute_script(
            "return [document.documentElement, ...document.querySelectorAll(arguments[0])]"
            ".filter(e => e.scrollWidth > e.clientWidth).map(e => e.tagName + '.' + e.className)", selector)

    def test_every_page_fits_a_phone_390_pixels_wide(self):
        self.driver.set_window_size(390, 844)
        for page in ("sessions?store=1&session=1002", "tickets?store=1", "drawers?store=1", "receipts?store=1",
                     "import?store=1", "status?store=1"):
            self.open(page)
            self.assertEqual(self.overflowing("header form, .facts, table.stacked"), [], page)
        self.open("users", "?store=1")
        self.assertEqual(self.overflowing(".table-wrap"), [], "the users' table scrolls sideways")

if __name__ == "__main__":
    unittest.main()

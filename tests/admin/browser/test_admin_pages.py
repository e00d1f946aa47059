"""Tickets as a manager follows them in the browser while a Sellin handheld
buys through the exchange, and every page on a phone; the whole buy, from
preparing a session to shipping, is test_admin_buy's."""
import unittest

from selenium.webdriver.common.by import By

from admin_browser import DEMO_MANAGER, AdminBrowserTest, Handheld


class AdminPages(AdminBrowserTest):
    def setUp(self):
        super().setUp()
        self.handheld = Handheld(self.server.base)
        self.log_in(*DEMO_MANAGER)

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

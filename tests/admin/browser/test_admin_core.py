"""Log-in, users, an import and log-out as a manager does them in the browser."""
import base64
import html
import os
import tempfile
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from admin_browser import DEMO_MANAGER, STARTUP_SECONDS, AdminBrowserTest


class AdminCore(AdminBrowserTest):
    def test_a_wrong_password_then_the_right_one_then_log_out(self):
        self.log_in("office", "not-it")
        self.assertEqual(self.heading(), "Log in")
        self.assertEqual(self.sentence("problem"), "The user name or password is wrong.")
        self.log_in(*DEMO_MANAGER)
        self.assertNotEqual(self.heading(), "Log in")
        self.assertIn("Signed in as office", self.driver.find_element(By.CSS_SELECTOR, "header").text)

        self.log_out()
        self.assertEqual(self.sentence("notice"), "You have logged out.")
        self.open("status")
        self.assertEqual(self.heading(), "Log in")
        self.assertTrue(self.path().startswith("/admin/login"), self.path())

    def test_a_user_is_added_then_disabled(self):
        self.log_in(*DEMO_MANAGER)
        self.open("users")
        self.type_into("new-name", "dana")
        self.type_into("new-password", "dana-pass1")
        self.driver.find_element(By.ID, "new-buy").click()
        self.follow(By.XPATH, "//button[.='Add the user']")
        self.assertEqual(self.sentence("notice"), "User dana added.")
        self.assertIn("dana buyer active", self.row_of("dana"))

        self.follow(By.XPATH, "//button[.='Disable dana']")
        self.assertEqual(self.sentence("notice"), "User dana disabled.")
        self.assertIn("dana buyer disabled", self.row_of("dana"))

    def test_an_import_with_a_bad_line_shows_the_line_and_stores_nothing(self):
        self.log_in(*DEMO_MANAGER)
        self.open("import")
        students = self.csv("student_id,name\nS900001,Ada Lovelace\nS900002\n")
        Select(self.driver.find_element(By.ID, "kind")).select_by_value("students")
        self.driver.find_element(By.ID, "file").send_keys(students)
        self.follow(By.XPATH, "//button[.='Import the file']")
        self.assertEqual(self.sentence("problem"),
                         "line 3: 1 fields where the header names 2.\nNothing of the file was stored.")

        good = self.csv("student_id,name\nS900001,Ada Lovelace\n")
        Select(self.driver.find_element(By.ID, "kind")).select_by_value("students")
        self.driver.find_element(By.ID, "file").send_keys(good)
        self.follow(By.XPATH, "//button[.='Import the file']")
        self.assertEqual(self.sentence("notice"), "1 row of students imported.")

    def test_a_sandboxed_frame_elsewhere_cannot_sign_the_browser_in_as_another_manager(self):
        self.log_in("manager", "manager1")
        self.assertIn("Signed in as manager", self.signed_in())
        # Another site's page, sending no referrer, whose sandboxed frame (no origin of its own: it sends
        # "Origin: null") posts the log-in form of another manager for the whole window.
        form = (f'<form method="post" action="{self.server.base}/admin/login" target="_top">'
                '<input name="name" value="office"><input name="password" value="office1"></form>'
                '<script>document.forms[0].submit()</script>')
        page = ('<meta name="referrer" content="no-referrer">'
                f'<iframe sandbox="allow-forms allow-scripts allow-top-navigation" srcdoc="{html.escape(form)}">'
                '</iframe>')
        self.driver.get("data:text/html;base64," + base64.b64encode(page.encode()).decode())
        WebDriverWait(self.driver, STARTUP_SECONDS).until(lambda d: d.current_url.startswith(self.server.base))
        self.assertEqual(self.sentence("problem"),
                         "This form did not come from this back office, or its page is too old; nothing was "
                         "changed. Open the page again and repeat the change.")
        self.open("status")
        self.assertIn("Signed in as manager", self.signed_in())

    def signed_in(self):
        return self.driver.find_element(By.CSS_SELECTOR, "header").text

    def row_of(self, name):
        return " ".join(self.driver.find_element(By.XPATH, f"//tr[td[1]='{name}']").text.split()[:3])

    def csv(self, text):
        handle, path = tempfile.mkstemp(suffix=".csv")
        with os.fdopen(handle, "w") as f:
            f.write(text)
        self.addCleanup(os.remove, path)
        return path


if __name__ == "__main__":
    unittest.main()

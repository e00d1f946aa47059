#!/usr/bin/env bash
# Photographs the back office's pages for docs/back-office.md: the real storeserver,
# built in build/ (or BUILD_DIR), on a demo store, in headless Chromium.
#   scripts/admin-screenshots.sh [OUTPUT_DIR]     (default docs/screens)
# scripts/setup-deps.sh screenshots installs the browser. Run it again
# whenever the pages change.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-docs/screens}
build=${BUILD_DIR:-build}
[ -x "$build/server/storeserver" ] || { echo "admin-screenshots: no $build/server/storeserver; build first" >&2; exit 1; }
mkdir -p "$out"

STORESERVER_BINARY="$build/server/storeserver" /usr/bin/python3 - "$out" <<'PYTHON'
import os
import sys
import tempfile

sys.path.insert(0, "tests/admin/browser")
from admin_browser import DEMO_MANAGER, DemoServer, Handheld, start_browser
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

out = sys.argv[1]
server = DemoServer()
driver = start_browser(window=(1200, 860))
try:
    def shoot(name):
        path = os.path.join(out, f"admin-{name}.png")
        # The whole page, however long: the window grows to the document's height.
        height = driver.execute_script("return document.documentElement.scrollHeight")
        driver.set_window_size(1200, max(860, min(height + 140, 2400)))
        driver.save_screenshot(path)
        driver.set_window_size(1200, 860)
        print(path)

    driver.get(f"{server.base}/admin/login")
    driver.find_element(By.ID, "name").send_keys(DEMO_MANAGER[0])
    shoot("login")
    driver.find_element(By.ID, "password").send_keys(DEMO_MANAGER[1])
    driver.find_element(By.CSS_SELECTOR, "form.login button").click()

    # A morning's buying from a handheld: a ticket ended, one left open.
    handheld = Handheld(server.base)
    ended = handheld.open_ticket()
    handheld.buy(ended)
    handheld.buy(ended, line=2, item="B0000000", price="1.00")
    handheld.end(ended)
    left = handheld.open_ticket()
    handheld.buy(left, item="B0000000", price="1.00")

    driver.get(f"{server.base}/admin/sessions?store=1&session=1002&purchaser=Ostrand%20Company")
    shoot("sessions")
    # The store's own list of next term, previewed from the adoptions.
    driver.get(f"{server.base}/admin/sessions?store=1&session=1001")
    driver.find_element(By.XPATH, "//summary[contains(., 'adoptions')]").click()
    Select(driver.find_element(By.ID, "adoption-term")).select_by_value("FALL 2027")
    driver.find_element(By.XPATH, "//form[.//select[@id='adoption-term']]//button[.='Preview']").click()
    WebDriverWait(driver, 30).until(lambda d: d.find_elements(By.ID, "adoption-preview"))
    shoot("adoption-list")
    driver.get(f"{server.base}/admin/shipping?store=1&session=1002&purchaser=Ostrand%20Company")
    shoot("packing-list")
    driver.get(f"{server.base}/admin/shipping?store=1&session=1002&purchaser=Ostrand%20Company&sheet=labels")
    shoot("labels")
    driver.get(f"{server.base}/admin/tickets?store=1")
    shoot("tickets")
    driver.get(f"{server.base}/admin/tickets?store=1&receipt={left}")
    shoot("ticket")
    driver.get(f"{server.base}/admin/receipts?store=1&receipt={ended}")
    shoot("receipts")

    # The buyer's drawer of the day, counted and closed, and the day's sheet.
    driver.get(f"{server.base}/admin/drawers?store=1")
    Select(driver.find_element(By.ID, "buyer")).select_by_value("buyer")
    driver.find_element(By.ID, "start").send_keys("1500")
    driver.find_element(By.XPATH, "//button[.='Open the drawer']").click()
    driver.find_element(By.LINK_TEXT, "buyer").click()
    driver.find_element(By.ID, "counted").send_keys("1482.50")
    driver.find_element(By.XPATH, "//button[.='Enter the count']").click()
    shoot("drawer")
    driver.find_element(By.PARTIAL_LINK_TEXT, "The sheet of").click()
    shoot("day-sheet")

    driver.get(f"{server.base}/admin/users?store=1")
    shoot("users")

    with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False) as f:
        f.write("student_id,name\nS900001,Ada Lovelace\nS900002\nS900003,Grace Hopper,extra\n")
    driver.get(f"{server.base}/admin/import?store=1")
    Select(driver.find_element(By.ID, "kind")).select_by_value("students")
    driver.find_element(By.ID, "file").send_keys(f.name)
    driver.find_element(By.XPATH, "//button[.='Import the file']").click()
    os.remove(f.name)
    shoot("import")

    driver.get(f"{server.base}/admin/status?store=1")
    shoot("status")
finally:
    driver.quit()
    server.stop()
PYTHON

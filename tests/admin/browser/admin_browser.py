"""The back office in a real browser: a storeserver on a fresh demo store and
headless Chromium driven by chromedriver, each on a free port.

    from admin_browser import AdminBrowserTest

    class MyPages(AdminBrowserTest):
        def test_something(self):
            self.log_in("office", "office1")
            self.open("status")
            self.assertEqual(self.sentence("problem"), "")

STORESERVER_BINARY names the server program. A missing browser, driver or
server fails the test: the test set-up installs them, so none is skipped.
With STORESERVER_TEST_POSTGRES_DIR, the store is a database of the test run's
PostgreSQL cluster there, made and dropped by POSTGRES_CLUSTER_BINARY; a run
without PostgreSQL skips those tests, as the server's own tests do.
"""
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request
import uuid

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

DEMO_MANAGER = ("office", "office1")
STARTUP_SECONDS = 30


def replaced(page):
    """A wait's condition: true once page's element is no longer in the
    document shown. Asked while the browser swaps documents, Chromium may
    answer that the node belongs to no document instead of that it is stale;
    both mean the page was replaced."""
    def gone(_driver):
        try:
            page.is_enabled()
            return False
        except StaleElementReferenceException:
            return True
        except WebDriverException as e:
            if "does not belong to the document" in str(e):
                return True
            raise
    return gone


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def program(name, environment_name):
    path = os.environ.get(environment_name) or shutil.which(name)
    if not path or not os.access(path, os.X_OK):
        raise RuntimeError(f"{name} is not installed; run scripts/setup-deps.sh test")
    return path


class PostgresDatabase:
    """An empty database on the test run's cluster, dropped by drop()."""

    def __init__(self, cluster_dir):
        if not os.path.exists(os.path.join(cluster_dir, "port")):
            raise unittest.SkipTest("no PostgreSQL cluster in this test run")
        self.cluster = [program("postgres_cluster", "POSTGRES_CLUSTER_BINARY"), cluster_dir]
        self.name = "admin_browser_" + uuid.uuid4().hex[:12]
        self.uri = subprocess.run(self.cluster[:1] + ["database"] + self.cluster[1:] + [self.name],
                                  check=True, capture_output=True, text=True).stdout.strip()

    def drop(self):
        subprocess.run(self.cluster[:1] + ["drop"] + self.cluster[1:] + [self.name], check=True)


class DemoServer:
    """storeserver --demo on a fresh database: an SQLite file in its own
    directory, or a PostgreSQL database when the environment names a cluster."""

    def __init__(self):
        self.directory = tempfile.TemporaryDirectory(prefix="admin-browser-")
        cluster_dir = os.environ.get("STORESERVER_TEST_POSTGRES_DIR")
        self.postgres = PostgresDatabase(cluster_dir) if cluster_dir else None
        database = self.postgres.uri if self.postgres else os.path.join(self.directory.name, "store.db")
        self.port = free_port()
        binary = program("storeserver", "STORESERVER_BINARY")
        self.log = open(os.path.join(self.directory.name, "server.log"), "w+")
        self.process = subprocess.Popen(
            [binary, "--demo", "--port", str(self.port), "--io-threads", "1", "--database", database],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.process.stdout.readline()
        if "listening on" not in line:
            self.stop()
            raise RuntimeError(f"storeserver did not start: {line}{self.server_log()}")
        self.base = f"http://127.0.0.1:{self.port}"

    def server_log(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)
        self.process.stdout.close()
        self.log.close()
        self.directory.cleanup()
        if self.postgres:
            self.postgres.drop()


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

    def open_ticket(self, student=""):
        record = self.ask(QUERY, {"request": "sl_ticket", "user": "buyer", "student_id": student, "store": 1})
        return record[8:18].strip()  # the receipt field of the RCT record

    def buy(self, receipt, line=1, item="B0000001", price="12.50", purchaser="Ostrand Company", session=1002):
        self.ask(NEW_ITEM, {"request": "sl_item", "update_id": str(uuid.uuid4()), "receipt": receipt, "line": line,
                            "purchaser": purchaser, "session": session, "item_id": item, "qty": 1, "price": price})

    def end(self, receipt):
        self.ask(END, {"request": "sl_tran", "update_id": str(uuid.uuid4()), "receipt": receipt})


def start_browser(window=(1280, 900)):
    options = webdriver.ChromeOptions()
    options.binary_location = program("chromium", "CHROMIUM_BINARY")
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-extensions", f"--window-size={window[0]},{window[1]}"):
        options.add_argument(argument)
    service = Service(executable_path=program("chromedriver", "CHROMEDRIVER_BINARY"), port=free_port())
    return webdriver.Chrome(service=service, options=options)


class AdminBrowserTest(unittest.TestCase):
    """Each test gets its own server and browser, so no test sees another's changes."""

    def setUp(self):
        self.server = DemoServer()
        self.addCleanup(self.server.stop)
        self.driver = start_browser()
        self.addCleanup(self.driver.quit)
        self.driver.set_page_load_timeout(STARTUP_SECONDS)

    def open(self, page, query=""):
        self.driver.get(f"{self.server.base}/admin/{page}{query}")

    def log_in(self, name, password):
        self.open("login")
        self.type_into("name", name)
        self.type_into("password", password)
        self.follow(By.CSS_SELECTOR, "form.login button[type=submit]")

    def log_out(self):
        self.follow(By.CSS_SELECTOR, "form.logout button")

    def follow(self, by, value):
        """Clicks a link or a form's button and waits for the page it brings, so
        nothing is read from the page it replaces."""
        page = self.driver.find_element(By.TAG_NAME, "html")
        self.driver.find_element(by, value).click()
        WebDriverWait(self.driver, STARTUP_SECONDS).until(replaced(page))

    def type_into(self, element_id, text):
        field = self.driver.find_element(By.ID, element_id)
        field.clear()
        field.send_keys(text)

    def sentence(self, kind):
        """The page's problem or notice, as the manager reads it; empty when none."""
        try:
            return self.driver.find_element(By.CSS_SELECTOR, f"p.{kind}").text
        except NoSuchElementException:
            return ""

    def cells(self, table_id, first_cell):
        """The texts of the table's row whose first cell reads first_cell."""
        row = self.driver.find_element(By.XPATH, f"//table[@id='{table_id}']//tr[td[1][normalize-space()='{first_cell}']]")
        return [cell.text for cell in row.find_elements(By.TAG_NAME, "td")]

    def heading(self):
        return self.driver.find_element(By.TAG_NAME, "h1").text

    def path(self):
        return self.driver.current_url[len(self.server.base):]

#!/usr/bin/env python3
"""The line page in a real browser (Debian's chromium through chromedriver),
against the test PostgreSQL, the real tamsolt-line and an emulated --watch
station writing four boards: one done in its first slot, three failing one
after another in its second, which then asks to be checked.

line_page_test.py SERVER_STATE LINE RUNNER CLI SETTINGS SOURCE WORKDIR [SCREENSHOT]
Exits 77 (skipped) with the reason when the browser cannot start.
"""
import calendar
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

state, line, runner, cli, settings, source, work = sys.argv[1:8]
screenshot = sys.argv[8] if len(sys.argv) > 8 else ""

try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as error:
    print(f"skipped: no selenium ({error}); scripts/setup.sh installs python3-selenium")
    sys.exit(77)

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
server = open(state).read().strip()
db = "line_page"


def psql(sql, dbname=db, user="postgres"):
    return subprocess.run(["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d",
                           f"host={server} user={user} dbname={dbname}", "-c", sql],
                          check=True, capture_output=True, text=True).stdout.strip()


def fail(why):
    print(f"FAIL: {why}")
    if "browser" in globals():
        print("the browser's console:", browser.get_log("browser"))
    sys.exit(1)


# The line database at its latest version, with the page's reading role.
psql(f"DROP DATABASE IF EXISTS {db}", "postgres")
psql(f"CREATE DATABASE {db}", "postgres")
for role in ("tamsolt_station", "tamsolt_line_reader"):
    psql(f"DO $$ BEGIN CREATE ROLE {role} LOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN END $$")
steps = ["schema.sql"] + [f"schema_v{n}.sql" for n in range(2, 7)] + ["station_role.sql", "line_reader_role.sql"]
for step in steps:
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", f"host={server} user=postgres dbname={db}",
                    "-f", os.path.join(source, "linedb", step)], check=True, capture_output=True)

# The service, as the reading role, on a port of its choosing.
with open(f"{work}/line.ini", "w") as ini:
    ini.write(f"[line]\r\nurl=host={server} user=tamsolt_line_reader dbname={db}\r\nlisten=127.0.0.1\r\nport=0\r\n")
service = subprocess.Popen([line, "--settings", f"{work}/line.ini"], stdout=subprocess.PIPE, text=True)
said = service.stdout.readline()
found = re.search(r"http://127\.0\.0\.1:(\d+)/", said)
if not found:
    fail(f"the service said: {said!r}")
page = found.group(0)

options = webdriver.ChromeOptions()
for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1100",
             "--lang=en-GB"):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
try:
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
except (WebDriverException, OSError) as error:
    service.terminate()
    print(f"skipped: the browser does not start here: {str(error).splitlines()[0]}")
    sys.exit(77)


def wait(what, condition, seconds=10):
    try:
        # A redraw between finding an element and reading it: asked again at the next poll.
        return WebDriverWait(browser, seconds, poll_frequency=0.05,
                             ignored_exceptions=[StaleElementReferenceException]).until(lambda _: condition())
    except Exception:
        fail(f"{what} not shown within {seconds} s; the page: {browser.find_element(By.TAG_NAME, 'main').text}")


def tile(slot):
    found = browser.find_elements(By.CSS_SELECTOR, f'.tile[data-slot="{slot}"]')
    return found[0] if found else None


try:
    browser.get(page)
    wait("the page", lambda: browser.find_element(By.ID, "title").text != "")
    # Each tile's changes as the page sees them, with the browser's clock.
    browser.execute_script("""
      window.seen = [];
      new MutationObserver(() => {
        for (const t of document.querySelectorAll('.tile'))
          window.seen.push([t.dataset.slot, t.className, Date.now()]);
      }).observe(document.getElementById('stations'), {subtree: true, childList: true});
      window.told = [];
      new WebSocket(`ws://${location.host}/api/v1/live`).onmessage = (m) => window.told.push(JSON.parse(m.data));""")

    # The station: a board done in 1-1.1, and three refused at their begin in
    # 1-1.2, each taken out once shown failed and the next put in. The name
    # of the first slot is markup, which the page must show as text.
    shutil.copy(settings, f"{work}/station.ini")
    with open(f"{work}/station.ini", "a") as ini:
        ini.write("[slots]\r\n1-1.1=<b>A1</b>\r\n")
    with open(f"{work}/rcdb", "wb") as rcdb:
        rcdb.write(os.urandom(1060))
    control = f"{work}/control"
    os.mkfifo(control)
    station = subprocess.Popen(
        [runner, "--quiet", f"--control={control}", "--plug=1-1.1:0", "--plug=1-1.2:0", "--plug=1-1.2:cmd",
         "--plug=1-1.2:cmd"] + [f"--fault-on={n}:--begin-status=5" for n in (2, 3, 4)] +
        ["--", cli, "--settings", f"{work}/station.ini", "--ledger", f"{work}/ledger.sqlite", "--ledger-url",
         f"host={server} user=postgres dbname={db}", "--watch", "--max-boards", "4", "--json",
         "--rcdb", f"{work}/rcdb"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    events = []

    def say(command):
        with open(control, "w") as pipe:
            pipe.write(command + "\n")

    def read():
        failed = set()
        for text in station.stdout:
            event = json.loads(text)
            events.append(event)
            data = event["data"]
            if event["kind"] == "slot-state" and event.get("slot") == "1-1.2" and data["state"] == "failed" \
                    and data.get("present") and data["device"] not in failed:
                failed.add(data["device"])
                if len(failed) < 3:
                    say("unplug 1-1.2")
            elif event["kind"] == "device-gone" and event.get("slot") == "1-1.2":
                say("plug 1-1.2")
    reader = threading.Thread(target=read)
    reader.start()
    station.wait(timeout=120)
    reader.join()
    # Each board's end: its first slot-state saying it.
    ends, said = [], set()
    for e in events:
        if e["kind"] == "slot-state" and e["data"]["state"] in ("done", "failed") and \
                (e["slot"], e["data"]["device"]) not in said:
            said.add((e["slot"], e["data"]["device"]))
            ends.append(e)
    if len(ends) != 4:
        fail(f"the station did not end four boards: {station.stderr.read()}")

    wait("the stopped station", lambda: browser.find_elements(By.CSS_SELECTOR, ".station.stopped"))
    wait("both ends", lambda: tile("1-1.1") and tile("1-1.2") and "writing" not in tile("1-1.1").get_attribute("class")
         and "writing" not in tile("1-1.2").get_attribute("class"))

    # Each board's end reached the page within a second of the station saying it.
    seen = browser.execute_script("return window.seen")
    for end in ends:
        said_at = calendar.timegm(time.strptime(end["time"][:19], "%Y-%m-%dT%H:%M:%S"))
        said_ms = said_at * 1000 + int(end["time"][20:23])
        shown = [t for slot, cls, t in seen if slot == end["slot"] and end["data"]["state"] in cls.split()
                 and t >= said_ms - 50]
        if not shown:
            fail(f"{end['slot']} never shown {end['data']['state']}")
        late = shown[0] - said_ms
        print(f"{end['slot']} {end['data']['state']}: on the page {late:.0f} ms after the station said it")
        if late > 1000:
            fail(f"{end['slot']}: {late:.0f} ms from the station to the page")

    # What the live socket tells: the stations that changed, a list at a time.
    name = browser.find_element(By.CSS_SELECTOR, ".station h2").text
    told = browser.execute_script("return window.told")
    if not any(t.get("changed") == [name] for t in told):
        fail(f"the live socket told {told[:5]}, never {{'changed': [{name!r}]}}")

    # One look at the page, whole: it redraws the stations as they change.
    look = browser.execute_script("""
      const tile = (slot) => document.querySelector(`.tile[data-slot="${slot}"]`);
      return {name: tile('1-1.1').querySelector('.name').textContent, markup: tile('1-1.1').querySelectorAll('b').length,
              first: tile('1-1.1').className.split(' '), second: tile('1-1.2').className.split(' '),
              reason: tile('1-1.2').querySelector('.reason').textContent,
              today: document.querySelector('.station .today').textContent,
              alerts: document.getElementById('alerts').textContent};""")
    if look["name"] != "<b>A1</b>" or look["markup"]:
        fail("a slot's name was not shown as text")
    if "done" not in look["first"] or "failed" not in look["second"]:
        fail(f"tiles: {look['first']}, {look['second']}")
    if "written 1, failed 3" not in look["today"]:
        fail(f"today: {look['today']}")

    # The slot that failed three times asks to be checked, on its tile and in the line's alerts.
    if "check" not in look["second"] or "1-1.2" not in look["alerts"] or "1-1.1" in look["alerts"]:
        fail(f"the slot alert: {look['second']}; the alerts: {look['alerts']!r}")

    # However many changes are told while the stations are being asked, they are asked once more after it.
    runs = browser.execute_async_script("""
      const done = arguments[arguments.length - 1];
      let runs = 0, release = null;
      const show = oneAtATime(() => { runs++; return new Promise((r) => { release = r; }); });
      show(); show(); show();
      release();
      setTimeout(() => { release(); setTimeout(() => done(runs), 0); }, 0);""")
    if runs != 2:
        fail(f"three changes told while asking: asked {runs} times, not 2")

    # Today's yield: each slot's boards, and the failure by its reason.
    wait("today's yield", lambda: len(browser.find_elements(By.CSS_SELECTOR, "#yield tbody tr")) == 2)
    reasons = browser.find_element(By.ID, "reasons").text
    if not reasons.startswith("3 × ") or look["reason"] not in reasons:
        fail(f"the failures by reason: {reasons!r}")

    # Days chosen: from yesterday the same boards, each hour's bar under its day
    # too; yesterday alone has none.
    def choose(field, day):
        browser.execute_script("const f = document.getElementById(arguments[0]); f.value = arguments[1];"
                               " f.dispatchEvent(new Event('change'))", field, day)
    today = browser.find_element(By.ID, "to").get_attribute("value")
    yesterday = browser.execute_script("const d = new Date(); d.setDate(d.getDate() - 1); return dayOf(d)")
    choose("from", yesterday)
    wait("the span's hours", lambda: re.fullmatch(r"\d+-\d+ \d\d", browser.find_element(
        By.CSS_SELECTOR, "#hours small").text) and len(browser.find_elements(By.CSS_SELECTOR, "#yield tbody tr")) == 2)
    choose("to", yesterday)
    wait("yesterday's empty yield", lambda: not browser.find_elements(By.CSS_SELECTOR, "#yield tbody tr"))
    choose("from", today)
    choose("to", today)
    wait("today's yield again", lambda: len(browser.find_elements(By.CSS_SELECTOR, "#yield tbody tr")) == 2)

    # A station whose heartbeat stops is silent on the page at once.
    psql("UPDATE line_stations SET stopped = false, heartbeat_utc = now() - interval '1 minute'")
    wait("the silent station", lambda: browser.find_elements(By.CSS_SELECTOR, ".station.silent .state-silent"), 3)

    # A rollback the station has not taken yet: it stands out as writing an
    # older version than the active one, and the recipes say who writes which.
    psql("INSERT INTO recipes (name, version, created_by) VALUES ('line3', 1, 'qe'), ('line3', 2, 'qe');"
         "INSERT INTO recipe_rows (name, version, item, enabled) SELECT 'line3', v, 'RCDB', false"
         " FROM generate_series(1, 2) v;"
         "ALTER TABLE recipe_active DISABLE TRIGGER USER;"
         "INSERT INTO recipe_active (name, version, activated_by) VALUES ('line3', 2, 'qe');"
         "ALTER TABLE recipe_active ENABLE TRIGGER USER;"
         "UPDATE line_stations SET recipe = 'line3', recipe_version = 1")
    wait("the older version", lambda: browser.find_element(By.CSS_SELECTOR, ".station .recipe").text.endswith(
        "older version (active version 2)"), 3)
    wait("who writes which version",
         lambda: re.search(r"line3\s+2\s.*: 1\b", browser.find_element(By.ID, "recipes").text))
    # Written from its image cache (the recipes could not be asked): said beside the version.
    psql("UPDATE line_stations SET recipe_away = true")
    wait("from the cache", lambda: "line3 version 1 (from the cache)" in
         browser.find_element(By.CSS_SELECTOR, ".station .recipe").text, 3)

    # A slot's boards, newest first, and one's record by its uuid: its images with their digests.
    wait("the tile chosen", lambda: tile("1-1.2").click() or True)
    def listed():
        return [b.text for b in browser.find_elements(By.CSS_SELECTOR, "#boards tr.failed button.link")]
    wait("the slot's boards", lambda: len(listed()) == 3 and len(browser.find_elements(By.CSS_SELECTOR, "#boards tr")) == 3)
    newest = psql("SELECT uuid FROM boards WHERE slot = '1-1.2' ORDER BY started_utc DESC, id DESC").split()
    if listed() != newest:
        fail(f"the slot's boards listed {listed()}, not {newest}")
    # Two at a time: the older ones follow the last listed.
    browser.execute_script(f"showBoards({name!r}, '1-1.2', undefined, 2)")
    wait("the first two", lambda: listed() == newest[:2])
    browser.find_element(By.CSS_SELECTOR, "#boards > button").click()
    wait("the older one", lambda: listed() == newest[2:])
    browser.find_element(By.CSS_SELECTOR, "#boards button.link").click()
    wait("the board's record", lambda: browser.find_elements(By.CSS_SELECTOR, "#record td.mono"))
    digest = browser.find_element(By.CSS_SELECTOR, "#record td.mono").text
    if not re.fullmatch(r"[0-9a-f]{64}", digest):
        fail(f"the record's digest: {digest!r}")

    if screenshot:
        browser.save_screenshot(screenshot)
    # A slot no longer asking (its next board written) leaves the list, failed or not.
    psql("UPDATE line_slots SET check_slot = false; UPDATE line_stations SET heartbeat_utc = heartbeat_utc")
    wait("no alert", lambda: browser.find_element(By.ID, "alerts").text == "no slot asks to be checked", 3)
    # In Chinese, as the station window: every word its own.
    browser.find_element(By.ID, "language").click()
    wait("the page in Chinese", lambda: browser.find_element(By.ID, "title").text == "产线总览" and
         "旧版本" in browser.find_element(By.CSS_SELECTOR, ".station .recipe").text and
         browser.find_element(By.ID, "alerts").text == "没有槽位要求检查", 3)
    # A tile that did not change stays the element it was (what the operator selected stays
    # selected); a slot gone from the station's rows leaves the page.
    browser.execute_script("document.querySelector('.tile[data-slot=\"1-1.1\"]').kept = true")
    psql("DELETE FROM line_slots WHERE slot = '1-1.2'; UPDATE line_stations SET heartbeat_utc = heartbeat_utc")
    wait("the slot gone", lambda: tile("1-1.2") is None, 3)
    if not browser.execute_script("return document.querySelector('.tile[data-slot=\"1-1.1\"]').kept === true"):
        fail("a tile that did not change was drawn again")
    errors = [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]
    if errors:
        fail(f"the browser's console: {errors}")

    # A service whose line database does not answer says so, and shows no station it cannot know.
    with open(f"{work}/away.ini", "w") as ini:
        ini.write(f"[line]\r\nurl=host={server} user=tamsolt_line_reader dbname=no_such_line\r\nport=0\r\n")
    away = subprocess.Popen([line, "--settings", f"{work}/away.ini"], stdout=subprocess.PIPE, text=True)
    try:
        away_page = re.search(r"http://127\.0\.0\.1:\d+/", away.stdout.readline())
        browser.get(away_page.group(0) if away_page else page)
        wait("the database away", lambda: "the line database does not answer" in
             browser.find_element(By.ID, "database").text and not browser.find_elements(By.CSS_SELECTOR, ".station"))
        # Asked again, the stations themselves say so (not only the yield and the recipes).
        browser.execute_async_script("showStations().then(arguments[0])")
        if "the line database does not answer" not in browser.find_element(By.ID, "database").text:
            fail("the stations asked again while the database is away: nothing said")
    finally:
        away.terminate()
        away.wait()
    print("the line page showed the station, its slots, their ends, its silence and a board's record")
finally:
    browser.quit()
    service.terminate()
    service.wait()

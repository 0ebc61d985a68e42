#!/usr/bin/env python3
"""line_pages.py PAGE PAGES SECONDS SERVICE_PID: the line page open in PAGES
windows of Debian's chromium (headless, through chromedriver) while stations
publish (tamsolt-bench-line-publishers, whose changes carry the wall clock in
milliseconds as their item). Prints, over SECONDS after the pages have
settled: each change's time from its station to a page (the first time that
page shows it), its median, 95th percentile and slowest, how many changes
each page showed, and the CPU the service (SERVICE_PID), the line
database's server and the browser used, as a share of one core."""
import os
import re
import sys
import time

page, pages, seconds, service_pid = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

options = webdriver.ChromeOptions()
for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1100",
             "--lang=en-GB", "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
             "--disable-backgrounding-occluded-windows"):
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

# In each window: every tile whose words change, the time since the wall
# clock its item carries.
OBSERVE = """
  window.late = [];
  const shown = new Map();
  new MutationObserver(() => {
    const now = Date.now();
    for (const t of document.querySelectorAll('.tile')) {
      const key = t.closest('.station').dataset.station + ' ' + t.dataset.slot;
      const words = t.querySelector('.words').textContent;
      if (shown.get(key) === words) continue;
      shown.set(key, words);
      const sent = /(\\d{13})/.exec(words);
      if (sent) window.late.push([now, now - Number(sent[1])]);
    }
  }).observe(document.getElementById('stations'), {subtree: true, childList: true});"""


def ticks(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def ticks_of(command):
    total = 0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if open(f"/proc/{pid}/comm").read().strip() == command:
                total += ticks(pid)
        except OSError:
            pass
    return total


windows = []
try:
    for n in range(pages):
        if n:
            browser.switch_to.new_window("window")
        browser.get(page)
        windows.append(browser.current_window_handle)
    time.sleep(5)  # every page settled and listening
    for handle in windows:
        browser.switch_to.window(handle)
        browser.execute_script(OBSERVE)
    hz = os.sysconf("SC_CLK_TCK")
    cpu0 = [ticks(service_pid), ticks_of("postgres"), ticks_of("chromium")]
    t0, from_ms = time.monotonic(), time.time() * 1000
    time.sleep(seconds)
    cpu1 = [ticks(service_pid), ticks_of("postgres"), ticks_of("chromium")]
    t1, to_ms = time.monotonic(), time.time() * 1000
    late, shown = [], []
    for handle in windows:
        browser.switch_to.window(handle)
        seen = [ms for at, ms in browser.execute_script("return window.late") if from_ms <= at < to_ms]
        late += seen
        shown.append(len(seen))
    late.sort()
    wall = t1 - t0
    if not late:
        sys.exit("no page showed a change")
    print(f"{pages} pages, {wall:.0f} s: {len(late)} changes shown ({min(shown)} to {max(shown)} a page);"
          f" station to page: median {late[len(late) // 2]} ms, 95th percentile {late[int(len(late) * 0.95)]} ms,"
          f" slowest {late[-1]} ms")
    share = [100 * (b - a) / hz / wall for a, b in zip(cpu0, cpu1)]
    print(f"CPU, share of one core: tamsolt-line {share[0]:.1f} %, the line database's server {share[1]:.1f} %,"
          f" chromium's {pages} pages {share[2]:.0f} %")
finally:
    browser.quit()

#!/usr/bin/python3
"""dio-panel's two figures, on the simulated board (a loopback plug), in
headless chromium:
  - from a click on a switch to its looped-back input's lamp changing on
    the page, over 100 clicks: median, 95th percentile and worst;
  - the panel's processor time with a page connected and nothing changing,
    over 10 s, as a share of one core.

Usage: panel_bench.py <dio-panel> [--poll MS]
"""
import os
import shutil
import signal
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "panel"))
from client import Panel  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402

panel_path = sys.argv[1]
poll = sys.argv[sys.argv.index("--poll") + 1] if "--poll" in sys.argv else "20"
CLICK_TO_LAMP = """
const done = arguments[arguments.length - 1];
const lamp = document.querySelector('[data-di="4"]');
const want = lamp.dataset.value === '1' ? '0' : '1';
const observer = new MutationObserver(() => {
  if (lamp.dataset.value === want) { observer.disconnect(); done(performance.now() - t0); }
});
observer.observe(lamp, { attributes: true });
const t0 = performance.now();
document.querySelector('button[data-do="4"]').click();
"""


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


profile = tempfile.mkdtemp()
panel = Panel([panel_path, "--poll", poll])
options = webdriver.ChromeOptions()
for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
            "--user-data-dir=" + profile):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
try:
    driver.set_script_timeout(10)
    driver.get("http://%s/#token=%s" % (panel.host, panel.token))
    deadline = time.monotonic() + 10
    while not driver.find_element("css selector", "#status").text.startswith("do:"):
        if time.monotonic() > deadline:
            raise SystemExit("the page never connected")
        time.sleep(0.05)
    took = sorted(driver.execute_async_script(CLICK_TO_LAMP) for _ in range(100))
    idle_from = cpu_seconds(panel.process.pid)
    time.sleep(10)
    idle = (cpu_seconds(panel.process.pid) - idle_from) / 10 * 100
finally:
    driver.quit()
    panel.end(signal.SIGTERM)
    shutil.rmtree(profile, ignore_errors=True)
print("dio-panel, --poll %s ms, on the simulated board, in headless chromium:" % poll)
print("  click to lamp over 100 clicks: median %.1f ms, 95th percentile %.1f ms, worst %.1f ms"
      % (took[49], took[94], took[99]))
print("  idle with a page connected, over 10 s: %.2f%% of one core" % idle)

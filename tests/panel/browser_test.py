#!/usr/bin/python3
"""dio-panel in a real browser: headless chromium, driven by selenium, on
the simulated board with DI 4 and DI 5 crossed.

Usage: browser_test.py DIO_PANEL SCREENSHOT.png
Exit status 77 (skipped) where chromium, its driver or selenium is missing;
DIO_REQUIRE_BROWSER=1 turns that into a failure, as CI wants.
"""
import os
import shutil
import signal
import sys
import tempfile

SKIP = 77


def skip(why):
    if os.environ.get("DIO_REQUIRE_BROWSER"):
        sys.exit("browser test: " + why)
    print("skipped: " + why)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    skip("python3-selenium is not installed")

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    skip("chromium and chromium-driver are not installed")

panel_path, screenshot = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
plug = os.path.join(work, "plug.map")
with open(plug, "w") as f:
    f.write("DI 4: DO 5\nDI 5: DO 4\n")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Panel  # noqa: E402

panel = Panel([panel_path], dict(os.environ, VORNEL_BOARD1_PLUG=plug))
driver = None
try:
    url = "http://%s/#token=%s" % (panel.host, panel.token)

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                "--disable-gpu", "--window-size=1280,1800",
                "--user-data-dir=" + os.path.join(work, "profile")):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    wait = WebDriverWait(driver, 20)

    def css(selector):
        return driver.find_element(By.CSS_SELECTOR, selector)

    def until(selector, what):
        try:
            return wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, selector))[0]
        except Exception:
            raise AssertionError("never saw " + what + " (" + selector + "); status: " +
                                 css("#status").text + "; alert: " + css("#alert").text)

    def shows(word_do, word_di, what):
        until("#status", "the page")
        wait.until(lambda d: css("#status").text == "do:%s,di:%s" % (word_do, word_di),
                   "status do:%s,di:%s after %s, got %s" % (word_do, word_di, what,
                                                            css("#status").text))
        for i in range(32):
            pressed = css('button[data-do="%d"]' % i).get_attribute("aria-pressed")
            lamp = css('[data-di="%d"]' % i).get_attribute("data-value")
            assert pressed == ("true" if (int(word_do, 16) >> i) & 1 else "false"), (what, i)
            assert lamp == str((int(word_di, 16) >> i) & 1), (what, i)

    driver.get(url)
    shows("0", "0", "opening the page")

    # A switch drives its output; the crossed plug lights the other lamp.
    css('button[data-do="4"]').click()
    shows("10", "20", "clicking DO 4")
    css('button[data-do="5"]').click()
    shows("30", "30", "clicking DO 5")

    # A second page shows the same board, and its change shows on the first.
    first_page = driver.current_window_handle
    driver.switch_to.new_window("tab")
    driver.get(url)
    shows("30", "30", "opening a second page")
    css('button[data-do="4"]').send_keys(Keys.SPACE)  # the keyboard works too
    shows("20", "10", "pressing Space on DO 4 in the second page")
    driver.switch_to.window(first_page)
    shows("20", "10", "the second page's change")

    field = css("input[name=word]")
    field.send_keys("f" + Keys.ENTER)
    shows("f", "f", "typing the word f")

    # The map: the crossing drawn as two marks off the diagonal.
    css('button[data-action="map"]').click()
    until('circle[data-map-di="4"][data-map-do="5"][data-reads="follow"]', "DI 4 drawn on DO 5")
    until('circle[data-map-di="5"][data-map-do="4"][data-reads="follow"]', "DI 5 drawn on DO 4")
    until('circle[data-map-di="31"][data-map-do="31"]', "DI 31 drawn on DO 31")
    text = css("#map-text").text
    assert "DI 4: DO 5" in text and "DI 5: DO 4" in text, text
    assert css("#map-download").get_attribute("href").startswith("blob:")
    shows("0", "0", "the map, which ends with the outputs low")
    wait.until(lambda d: css('button[data-do="0"]').is_enabled(), "switches enabled after the map")
    css('button[data-do="4"]').click()
    shows("10", "20", "clicking DO 4 after the map")
    driver.execute_script("document.querySelector('#map-grid').scrollIntoView()")
    driver.save_screenshot(screenshot)
    assert css("#alert").get_attribute("hidden") is not None, css("#alert").text
finally:
    if driver is not None:
        driver.quit()
    status, errors = panel.end(signal.SIGTERM)
    shutil.rmtree(work, ignore_errors=True)
assert status == 128 + signal.SIGTERM, "dio-panel ended with %s: %s" % (status, errors)
assert errors == "", errors
print("passed; screenshot in " + screenshot)

#!/usr/bin/python3
"""The live view end to end in headless Chromium, driven over the DevTools protocol.

A simulated camera with direct serial access to a simulated serial camera (`kestcam camsim`) is
viewed with `kestcam view`; the page must show frames, its frame counter must advance, and moving
the exposure control must reach the serial camera's exposure register. A screenshot of the page is
written where --screenshot says. Exit code 77 (skipped) when Chromium or python3-websocket is
missing. Every wait is bounded; none is a bare sleep.
"""

import argparse
import base64
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SKIP = 77
# Generous bounds: they only turn a hang into a failure on a loaded machine.
START_BOUND_S = 60
WAIT_BOUND_S = 60
EXPOSURE = 4321  # within the simulated camera's 10..10000, and no value it starts with


class LineReader:
    """The lines a child process writes, handed over through a queue as they come."""

    def __init__(self, stream):
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        for raw in iter(stream.readline, b""):
            self.lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def wait_for(self, test, bound_s, what):
        deadline = time.monotonic() + bound_s
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no %s within %d s (seen: %s)" % (what, bound_s, self.seen[-5:]))
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError("the process ended before %s (seen: %s)" % (what, self.seen[-5:]))
            self.seen.append(line)
            if test(line):
                return line


class DevTools:
    """One page target of Chromium over its DevTools web socket."""

    def __init__(self, websocket_module, url):
        self.ws = websocket_module.create_connection(url, timeout=WAIT_BOUND_S, suppress_origin=True)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s failed: %s" % (method, message["error"]))
                return message.get("result", {})

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise AssertionError("%s: %s" % (expression[:60], result["exceptionDetails"].get("exception", {})
                                 .get("description", result["exceptionDetails"].get("text"))))
        return result["result"].get("value")

    def wait_for(self, condition, what, bound_s=WAIT_BOUND_S):
        """Waits in the page until the JavaScript condition yields a truthy value; returns it."""
        script = """new Promise((resolve, reject) => {
          const until = Date.now() + %d;
          (function check() {
            let value;
            try { value = (%s); } catch (e) { value = undefined; }
            if (value) resolve(value);
            else if (Date.now() > until) reject(new Error('timed out: %s'));
            else setTimeout(check, 50);
          })();
        })""" % (bound_s * 1000, condition, what.replace("'", ""))
        return self.evaluate(script)

    def close(self):
        self.ws.close()


def find_chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def stop(process, bound_s=30):
    if process.poll() is None:
        process.send_signal(signal.SIGINT)
    try:
        return process.wait(timeout=bound_s)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestcam", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()

    chromium = find_chromium()
    if chromium is None:
        print("skipped: no chromium on PATH (scripts/bootstrap.sh installs it)")
        return SKIP
    try:
        import websocket
    except ImportError:
        print("skipped: python3-websocket is not installed (scripts/bootstrap.sh installs it)")
        return SKIP

    work = tempfile.mkdtemp(prefix="kestcam-view-browser-")
    processes = []
    try:
        camsim = subprocess.Popen([args.kestcam, "camsim"], stdout=subprocess.PIPE)
        processes.append(camsim)
        camsim_out = LineReader(camsim.stdout)
        pty = camsim_out.wait_for(lambda line: line.startswith("/"), START_BOUND_S, "device path from camsim")

        with open(os.path.join(work, "sim.ini"), "w") as f:
            f.write("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n[System 0 Digitizer 0]\n"
                    "Width = 640\nHeight = 480\nFrameTimeMs = 20\n")
        with open(os.path.join(work, "Kest.ini"), "w") as f:
            f.write("[Camera 1]\nBaslerPortAccessEnabled=1\nBaslerPort=%s\n" % pty)
        env = dict(os.environ, KESTCAM_SIM_CONFIG=os.path.join(work, "sim.ini"), KESTCAM_MIL="sim")

        view = subprocess.Popen([args.kestcam, "--system-path", work, "view", "--camera", "Camera 1",
                                 "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, env=env)
        processes.append(view)
        url = LineReader(view.stdout).wait_for(lambda line: True, START_BOUND_S, "URL from kestcam view")
        assert url.startswith("http://127.0.0.1:"), url

        browser = subprocess.Popen(
            [chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
             "--no-first-run", "--no-default-browser-check", "--disable-extensions",
             "--disable-background-networking", "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", "--user-data-dir=" + os.path.join(work, "chromium"),
             "--window-size=1280,760", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        processes.append(browser)
        listening = LineReader(browser.stderr).wait_for(lambda line: "DevTools listening on ws://" in line,
                                                        START_BOUND_S, "DevTools address from chromium")
        endpoint = listening.split("ws://", 1)[1].split("/", 1)[0]
        with urllib.request.urlopen("http://%s/json/list" % endpoint, timeout=WAIT_BOUND_S) as reply:
            pages = [t for t in json.load(reply) if t.get("type") == "page"]
        assert pages, "chromium has no page target"
        page = DevTools(websocket, pages[0]["webSocketDebuggerUrl"])

        page.call("Emulation.setDeviceMetricsOverride", width=1280, height=760, deviceScaleFactor=1, mobile=False)
        page.call("Page.navigate", url=url)
        page.wait_for("document.getElementById('frame') && document.getElementById('frame').naturalWidth",
                      "a frame shown in the img")
        first = page.wait_for("Number(document.getElementById('frames').textContent)", "a frame counted")
        advanced = page.wait_for("Number(document.getElementById('frames').textContent) > %d && "
                                 "Number(document.getElementById('frames').textContent)" % (first + 10),
                                 "the frame counter advancing")
        print("frames shown; the counter went from %d to %d" % (first, advanced))

        # The exposure control, moved as a user lets go of the slider.
        page.wait_for("document.getElementById('control-ExposureTime')", "the exposure control")
        page.evaluate("""(() => {
          const slider = document.getElementById('control-ExposureTime');
          slider.value = %d;
          slider.dispatchEvent(new Event('input', { bubbles: true }));
          slider.dispatchEvent(new Event('change', { bubbles: true }));
        })()""" % EXPOSURE)
        page.wait_for("document.getElementById('control-ExposureTime').dataset.applied === '%d'" % EXPOSURE,
                      "the viewer confirming the exposure")
        camsim_out.wait_for(lambda line: line == "write 0x1501 %d" % EXPOSURE, WAIT_BOUND_S,
                            "the exposure register write at the simulated camera")
        print("the simulated camera received: write 0x1501 %d" % EXPOSURE)

        # A screenshot once the histogram is drawn and the status shows a rate.
        page.wait_for("Number(document.getElementById('fps').textContent) > 0", "a frame rate shown")
        shot = page.call("Page.captureScreenshot", format="png")
        os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
        with open(args.screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("screenshot: %s" % args.screenshot)
        page.close()
        stop(browser)

        code = stop(view)
        assert code == 0, "kestcam view ended with %s on SIGINT" % code
        # Closing the camera read the camera's values back into its settings.
        stored = subprocess.run([args.kestcam, "--system-path", work, "props", "get", "--camera", "Camera 1",
                                 "ExposureTime"], env=env, capture_output=True, text=True, timeout=WAIT_BOUND_S)
        assert stored.stdout.strip() == str(EXPOSURE), "props get: %r %r" % (stored.stdout, stored.stderr)
        print("ExposureTime read back after the view: %s" % stored.stdout.strip())
        print("passed")
        return 0
    finally:
        for process in reversed(processes):
            stop(process)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

"""Fixtures of the binding's tests: a system folder with Kest.ini, a simulator configuration, the
driver started on them, and the simulated serial camera of `kestcam camsim`."""

import os
import queue
import shutil
import subprocess
import tempfile
import threading

import pytest

import kestcam

# Bounds that only turn a hang into a failure on a loaded machine.
BOUND_S = 20.0


def ramp(x, y, frame, band=0, bits=8):
    return (x + 3 * y + 7 * frame + 85 * band) % (1 << bits)


class System:
    """A system folder: Kest.ini sections by camera, and the simulator's INI file."""

    def __init__(self, path, monkeypatch):
        self.path = path
        self._monkeypatch = monkeypatch
        self._sections = {}

    def settings(self, camera, **keys):
        self._sections[camera] = keys
        with open(os.path.join(self.path, "Kest.ini"), "w") as f:
            for name, values in self._sections.items():
                f.write("[%s]\n" % name)
                for key, value in values.items():
                    f.write("%s=%s\n" % (key, value))

    def one_digitizer(self, **keys):
        """The simulator as one board with one digitizer ("Camera 1") of the given keys."""
        text = "[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 1\n[System 0 Digitizer 0]\n"
        text += "".join("%s = %s\n" % item for item in keys.items())
        config = os.path.join(self.path, "sim.ini")
        with open(config, "w") as f:
            f.write(text)
        self._monkeypatch.setenv("KESTCAM_SIM_CONFIG", config)


@pytest.fixture
def system(tmp_path, monkeypatch):
    monkeypatch.setenv("KESTCAM_SIM_CONFIG", "")
    return System(str(tmp_path), monkeypatch)


@pytest.fixture
def driver(system):
    """Starts the driver when first used; finalized at the end of the test."""
    started = []

    def start():
        started.append(kestcam.Driver(system.path))
        return started[-1]

    yield start
    for d in started:
        d.close()


@pytest.fixture
def share_dir(monkeypatch):
    """A runtime folder of this test for the share's socket (short: socket paths are limited)."""
    path = tempfile.mkdtemp(prefix="kc")
    monkeypatch.setenv("XDG_RUNTIME_DIR", path)
    yield path
    shutil.rmtree(path, ignore_errors=True)


class SerialCamera:
    """`kestcam camsim`: the device path from its first line, then one line per frame received."""

    def __init__(self, cli):
        self._process = subprocess.Popen([cli, "camsim"], stdout=subprocess.PIPE, text=True)
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.device = self._lines.get(timeout=BOUND_S)
        if not self.device or not self.device.startswith("/"):
            raise RuntimeError("kestcam camsim printed %r as its device" % self.device)

    def _read(self):
        for line in self._process.stdout:
            self._lines.put(line.rstrip("\n"))
        self._lines.put(None)

    def wait_for(self, line):
        """True once the camera reported receiving `line`."""
        while True:
            try:
                got = self._lines.get(timeout=BOUND_S)
            except queue.Empty:
                return False
            if got is None:
                return False
            if got == line:
                return True

    def stop(self):
        self._process.terminate()
        self._process.wait(timeout=BOUND_S)


@pytest.fixture
def serial_camera():
    cli = os.environ.get("KESTCAM_CLI")
    if not cli:
        pytest.skip("KESTCAM_CLI names no kestcam command-line host (ctest sets it)")
    camera = SerialCamera(cli)
    yield camera
    camera.stop()

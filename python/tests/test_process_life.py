"""The binding in a process of its own: without numpy a grab is bytes with its shape, and a script
that ends while its camera grabs continuously (never closing anything) exits cleanly, its camera
closed on the way out, so the driver stores the camera's settings."""

import os
import subprocess
import sys
import textwrap

from conftest import BOUND_S, ramp


def run(script, system):
    env = dict(os.environ, KESTCAM_SIM_CONFIG="")
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script), system.path], env=env,
                          capture_output=True, text=True, timeout=BOUND_S * 3)


def test_without_numpy_a_grab_is_bytes_with_its_shape(system):
    result = run("""
        import sys
        sys.modules["numpy"] = None  # numpy cannot be imported
        import kestcam
        with kestcam.Driver(sys.argv[1]) as driver, driver.open("Camera 1") as camera:
            image = camera.grab(timeout=20)
            print(type(image).__name__, image.shape, list(image.data[2048 * 5:2048 * 5 + 3]))
    """, system)
    assert result.returncode == 0, result.stderr
    row5 = [ramp(x, 5, 0) for x in range(3)]
    assert result.stdout.strip() == "RawImage (1000, 2048) %s" % row5


def test_a_script_that_ends_while_grabbing_continuously_exits_cleanly_and_stores_the_settings(system):
    result = run("""
        import sys, threading
        import kestcam
        driver = kestcam.Driver(sys.argv[1])
        camera = driver.open("Camera 1")
        camera.set("Shift16bit", 3)  # stored when the camera is closed
        camera.set("continuous", 1)
        before = camera.start_grab()
        camera.wait_grab(before + 3, 20)  # the callbacks keep coming
        print("grabbing")
    """, system)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "grabbing"
    with open(os.path.join(system.path, "Kest.ini")) as f:
        assert "Shift16bit=3" in f.read().splitlines()

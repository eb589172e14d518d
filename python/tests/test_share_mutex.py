"""The share's robust mutex as the Python client takes it: a held mutex keeps the client out until
it is released, and an owner that died leaves it acquirable, with the share serving on."""

import os
import subprocess
import sys
import threading
import uuid

import kestcam
from kestcam.share import SharedMutex
from conftest import BOUND_S


def shared_camera(system, driver):
    name = "kcmx" + uuid.uuid4().hex[:8]
    system.one_digitizer(Width=16, Height=4)
    system.settings("Camera 1", ShareCamera=1, ShareName=name)
    return name, driver().open("Camera 1", use_numpy=False)


def test_a_held_mutex_keeps_the_client_out_until_it_is_released(system, driver, share_dir):
    name, camera = shared_camera(system, driver)
    with camera:
        mine, other = SharedMutex(name), SharedMutex(name)
        held, release, done = threading.Event(), threading.Event(), threading.Event()

        def holder():  # a pthread mutex belongs to the thread that locked it
            assert other.acquire(BOUND_S)
            held.set()
            release.wait(BOUND_S)
            other.release()
            done.set()

        threading.Thread(target=holder, daemon=True).start()
        assert held.wait(BOUND_S)
        assert mine.acquire(0.2) is False
        release.set()
        assert done.wait(BOUND_S)
        assert mine.acquire(BOUND_S) is True
        mine.release()
        mine.close()
        other.close()


def test_an_owner_that_died_leaves_the_mutex_acquirable_and_the_share_serving(system, driver, share_dir):
    name, camera = shared_camera(system, driver)
    with camera, kestcam.ShareClient(name, timeout=BOUND_S, use_numpy=False) as client:
        died = subprocess.run(
            [sys.executable, "-c",
             "import os, sys; from kestcam.share import SharedMutex\n"
             "m = SharedMutex(sys.argv[1]); assert m.acquire(20); os._exit(3)", name],
            env=dict(os.environ), timeout=BOUND_S)
        assert died.returncode == 3
        mutex = SharedMutex(name)
        assert mutex.acquire(BOUND_S) is True
        mutex.release()
        mutex.close()
        host = camera.grab(timeout=BOUND_S)
        assert client.next_frame(timeout=BOUND_S).data == host.data

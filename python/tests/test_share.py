"""ShareClient against a shared camera: each frame it receives equals the rows the host reads
through the exports (monochrome and blue-green-red), and it ends when the camera is closed."""

import os
import select
import socket
import threading
import uuid

import pytest

import kestcam
from conftest import BOUND_S

WIDTH, HEIGHT = 40, 6


def open_shared(system, driver, bands, frames):
    name = "kcpy" + uuid.uuid4().hex[:8]
    system.one_digitizer(Width=WIDTH, Height=HEIGHT, Bands=bands)
    system.settings("Camera 1", ShareCamera=1, ShareName=name, HeightMultiplier=frames)
    return name, driver().open("Camera 1", use_numpy=False)


@pytest.mark.parametrize("bands,frames", [pytest.param(1, 2, id="MonochromeTwoFrames"),
                                          pytest.param(3, 1, id="ColourBlueGreenRed")])
def test_frames_equal_the_rows_read_through_the_exports(system, driver, share_dir, bands, frames):
    name, camera = open_shared(system, driver, bands, frames)
    with camera, kestcam.ShareClient(name, timeout=BOUND_S, use_numpy=False) as client:
        assert (client.width, client.height, client.format) == (WIDTH, HEIGHT * frames, bands)
        for _ in range(3):
            host = camera.grab(timeout=BOUND_S)
            shared = client.next_frame(timeout=BOUND_S)
            assert shared.shape == host.shape
            assert shared.data == host.data


def test_frames_are_numpy_arrays_when_numpy_is_there(system, driver, share_dir):
    numpy = pytest.importorskip("numpy")
    name, camera = open_shared(system, driver, 3, 1)
    with camera, kestcam.ShareClient(name, timeout=BOUND_S) as client:
        camera.grab(timeout=BOUND_S)
        frame = client.next_frame(timeout=BOUND_S)
        assert isinstance(frame, numpy.ndarray) and frame.shape == (HEIGHT, WIDTH, 3)
        assert frame.tobytes() == camera.image().data


def test_the_frames_end_when_the_camera_is_closed(system, driver, share_dir):
    name, camera = open_shared(system, driver, 1, 1)
    with kestcam.ShareClient(name, timeout=BOUND_S, use_numpy=False) as client:
        camera.grab(timeout=BOUND_S)
        host = camera.image()
        frames = client.frames(timeout=BOUND_S)
        assert next(frames).data == host.data
        camera.close()
        assert list(frames) == []


def test_a_share_nobody_serves_times_out(share_dir):
    with pytest.raises(TimeoutError, match="kcnobody"):
        kestcam.ShareClient("kcnobody", timeout=0.2)


@pytest.mark.parametrize("name", ["", "a/b", ".hidden"], ids=["Empty", "WithSlash", "LeadingDot"])
def test_a_name_that_is_no_share_name_is_refused(name):
    with pytest.raises(ValueError):
        kestcam.ShareClient(name, timeout=0.1)


def test_a_connection_reset_before_the_dimensions_is_taken_as_a_refusal_and_tried_again(system, driver, share_dir):
    name = "kcpy" + uuid.uuid4().hex[:8]
    path = kestcam.share.socket_path(name)
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    # Something at the share's path that lets a client connect and then resets it: a listener that
    # closes with the client's connection not yet accepted.
    resetter = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    resetter.bind(path)
    resetter.listen(4)
    outcome = {}

    def connect():
        try:
            outcome["client"] = kestcam.ShareClient(name, timeout=BOUND_S, use_numpy=False)
        except BaseException as error:  # handed to the test's thread
            outcome["error"] = error

    thread = threading.Thread(target=connect, daemon=True)
    thread.start()
    assert select.select([resetter], [], [], BOUND_S)[0], "the client did not connect"
    resetter.close()
    system.one_digitizer(Width=WIDTH, Height=HEIGHT)
    system.settings("Camera 1", ShareCamera=1, ShareName=name)
    camera = driver().open("Camera 1", use_numpy=False)
    thread.join(BOUND_S)
    assert "error" not in outcome, outcome.get("error")
    with camera, outcome["client"] as client:
        assert (client.width, client.height) == (WIDTH, HEIGHT)
        host = camera.grab(timeout=BOUND_S)
        assert client.next_frame(timeout=BOUND_S).data == host.data

"""The driver through its exports: start and stop, the camera list, cameras with grab, rows and
properties, and the driver's log as Python logging."""

import atexit
import ctypes
import logging
import re
import threading
import weakref

from . import _library
from ._image import make_image

log = logging.getLogger("kestcam.driver")

_GRABBER = 0  # the driver has one grabber number, 0
_STAMP = re.compile(r"^\d\d/\d\d/\d\d+ \d\d:\d\d:\d\d: ?$")


class KestcamError(RuntimeError):
    """An export reported failure, or a call the driver cannot take (a closed camera, say)."""


def _encode(text, what):
    if not isinstance(text, str):
        raise TypeError("%s must be a str, not %s" % (what, type(text).__name__))
    if "\0" in text:
        raise ValueError("%s must not contain a NUL character" % what)
    return text.encode("utf-8")


# The driver's log ---------------------------------------------------------------------------------
# Each message reaches the procedure as two calls, the time stamp and then the text, never split by
# another thread's message; the stamp is held per thread until its text comes.
_pending = threading.local()


def _level_of(text):
    if "ERROR" in text or "EXCEPTION" in text:
        return logging.ERROR
    if "WARNING" in text:
        return logging.WARNING
    return logging.INFO


def _on_log(raw):
    try:
        text = raw.decode("utf-8", "replace") if raw is not None else ""
        if _STAMP.match(text):
            _pending.stamp = text.rstrip(": ")
            return
        stamp = getattr(_pending, "stamp", None)
        _pending.stamp = None
        message = text.rstrip("\r\n")
        log.log(_level_of(message), "%s", message, extra={"driver_stamp": stamp})
    except Exception:  # nothing may unwind into the driver
        pass


# One procedure for the life of the process: the driver may call it on any thread at any moment,
# also during and after finalize, so it is never freed.
_LOG_PROC = _library.DebugMsgProc(_on_log)


# Completions --------------------------------------------------------------------------------------
# One callback for every port, kept for the life of the process: an acquisition thread may still be
# inside it while the camera is being closed. It finds the camera by its port.
_cameras_lock = threading.Lock()
_cameras_by_port = {}


def _on_complete(grabber, port):
    try:
        with _cameras_lock:
            camera = _cameras_by_port.get(port)
        if camera is not None:
            camera._completed()
    except Exception:
        pass


_COMPLETE_PROC = _library.CompleteCallback(_on_complete)


# Drivers still started. At exit they are finalized before the interpreter goes away: an acquisition
# thread calling into a finalizing interpreter would crash the process.
_started = weakref.WeakSet()


@atexit.register
def _finalize_at_exit():
    for driver in list(_started):
        driver.close()


class Driver:
    """The driver started on a system folder (where Kest.ini and Kest.log live); finalized by close(),
    at the end of a with block, or at the latest when the interpreter exits. The driver is one per
    process."""

    def __init__(self, system_path=".", library=None):
        self._lib = _library.load(library)
        # Installed first, so that what the driver logs while it starts is not lost either.
        self._lib.setDebugMsgProc(_LOG_PROC)
        if self._lib.initialize(_encode(str(system_path), "system_path"), _LOG_PROC) != 1:
            raise KestcamError("initialize failed")
        self._open = True
        _started.add(self)

    def close(self):
        """Closes the cameras still open (the driver stores their settings), then finalizes."""
        if self._open:
            self._open = False
            with _cameras_lock:
                cameras = list(_cameras_by_port.values())
            for camera in cameras:
                camera.close()
            self._lib.finalize()
            _started.discard(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def set_system_path(self, path):
        if self._lib.setSystemPath(_encode(str(path), "path")) != 1:
            raise KestcamError("setSystemPath(%r) failed" % path)

    def cameras(self):
        """The camera names, in the driver's order."""
        names = self._lib.getCVLCameraConfigNames()
        result = []
        i = 0
        while names and names[i] is not None:
            result.append(names[i].decode("utf-8", "replace"))
            i += 1
        return result

    def camera_count(self):
        return self._lib.getCVLNoOfSupportedCameras()

    def max_grabbers(self):
        return self._lib.getCVLMaxNoOfGrabbers()

    def max_ports(self):
        return self._lib.getCVLMaxNoOfPorts()

    def set_hw_trigger(self):
        if self._lib.setHWTrigger() != 1:
            raise KestcamError("setHWTrigger failed")

    def configure(self, camera_name, parent=None):
        """The camera's configuration dialog; True when the user chose OK. parent: a window handle."""
        return self._lib.configureCamera(parent, _encode(camera_name, "camera_name")) == 1

    def open(self, camera_name, port=0, use_numpy=None):
        return Camera(camera_name, port, use_numpy=use_numpy, library=self._lib)


class Camera:
    """A camera bound to a port: opened on construction, closed by close() or at the end of a with
    block. use_numpy: None to return numpy arrays when numpy is importable, False for RawImage."""

    def __init__(self, name, port=0, use_numpy=None, library=None):
        self._lib = library if library is not None else _library.load()
        self.name = name
        self.port = int(port)
        self._use_numpy = use_numpy
        self._cond = threading.Condition()
        self._completions = 0
        self._open = False
        encoded = _encode(name, "camera name")
        with _cameras_lock:
            if self.port in _cameras_by_port:
                raise KestcamError("port %d is already open in this process" % self.port)
            _cameras_by_port[self.port] = self
        geometry = (ctypes.c_int * 2)()
        try:
            if self._lib.openCVLPort(_GRABBER, self.port, encoded, geometry) != 1:
                raise KestcamError("cannot open %r on port %d" % (name, self.port))
            self._open = True
            if self._lib.setCompleteCallback(_GRABBER, self.port, _COMPLETE_PROC) != 1:
                raise KestcamError("setCompleteCallback failed on port %d" % self.port)
            self.width, self.rows = geometry[0], geometry[1]
            self.bytes_per_pixel = 3 if self.get("PixelSize") == 24 else 1
        except BaseException:
            self.close()
            raise

    def close(self):
        """Closes the port (the driver stores the camera's settings); a second close does nothing."""
        if self._open:
            self._open = False
            self._lib.closeCVLPort(_GRABBER, self.port)
        with self._cond:
            self._cond.notify_all()
        with _cameras_lock:
            if _cameras_by_port.get(self.port) is self:
                del _cameras_by_port[self.port]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def is_open(self):
        return self._open

    def _check_open(self):
        if not self._open:
            raise KestcamError("camera %r on port %d is closed" % (self.name, self.port))

    def _completed(self):
        with self._cond:
            self._completions += 1
            self._cond.notify_all()

    @property
    def completions(self):
        """Completion callbacks received since the camera was opened."""
        with self._cond:
            return self._completions

    def start_grab(self):
        """Requests one grab and returns at once; wait_grab() waits for its completion."""
        self._check_open()
        with self._cond:
            before = self._completions
        if self._lib.doCVLGrab(_GRABBER, self.port) != 1:
            raise KestcamError("doCVLGrab failed on port %d" % self.port)
        return before

    def wait_grab(self, after, timeout):
        """Waits until more than `after` completions have come; TimeoutError after timeout seconds."""
        with self._cond:
            done = self._cond.wait_for(lambda: self._completions > after or not self._open, timeout)
        self._check_open()
        if not done:
            raise TimeoutError("no completion from %r on port %d within %g s" % (self.name, self.port, timeout))

    def grab(self, timeout=10.0):
        """Grabs once, waits for the completion callback (TimeoutError after timeout seconds) and
        returns the whole image (every frame of the grab, stacked)."""
        self.wait_grab(self.start_grab(), timeout)
        return self.image()

    def row(self, row, first_pix=0, last_pix=None):
        """One row of the last grab as bytes (blue, green, red for a colour camera)."""
        self._check_open()
        last = self.width - 1 if last_pix is None else last_pix
        if not 0 <= first_pix <= last:
            raise ValueError("columns %d..%d are not a range" % (first_pix, last))
        buffer = ctypes.create_string_buffer((last - first_pix + 1) * self.bytes_per_pixel)
        if self._lib.getCVLGrabRow(_GRABBER, self.port, buffer, row, first_pix, last) != 1:
            raise KestcamError("getCVLGrabRow(row=%d, %d..%d) failed on port %d" % (row, first_pix, last, self.port))
        return buffer.raw

    def image(self):
        """Every row of the last grab: a numpy array (rows, width[, 3]) or a RawImage."""
        self._check_open()
        stride = self.width * self.bytes_per_pixel
        buffer = ctypes.create_string_buffer(stride * self.rows)
        base = ctypes.addressof(buffer)
        for r in range(self.rows):
            if self._lib.getCVLGrabRow(_GRABBER, self.port, base + r * stride, r, 0, self.width - 1) != 1:
                raise KestcamError("getCVLGrabRow(row=%d) failed on port %d" % (r, self.port))
        return make_image(buffer.raw, self.rows, self.width, self.bytes_per_pixel, self._use_numpy)

    # Properties: names compared without regard to case, values 32-bit ints.
    def get(self, prop):
        self._check_open()
        value = ctypes.c_int()
        if self._lib.getProperty(_GRABBER, self.port, _encode(prop, "property"), ctypes.byref(value)) != 1:
            raise KestcamError("getProperty(%r) failed on port %d" % (prop, self.port))
        return value.value

    def set(self, prop, value):
        self._check_open()
        if self._lib.setProperty(_GRABBER, self.port, _encode(prop, "property"), _int32(value)) != 1:
            raise KestcamError("setProperty(%r, %r) failed on port %d" % (prop, value, self.port))

    def range(self, prop):
        """(minimum, maximum) of the property."""
        self._check_open()
        low, high = ctypes.c_int(), ctypes.c_int()
        if self._lib.getPropertyRange(_GRABBER, self.port, _encode(prop, "property"), ctypes.byref(low),
                                      ctypes.byref(high)) != 1:
            raise KestcamError("getPropertyRange(%r) failed on port %d" % (prop, self.port))
        return low.value, high.value


def _int32(value):
    value = int(value)
    if not -2**31 <= value < 2**31:
        raise ValueError("%d does not fit a 32-bit property value" % value)
    return value

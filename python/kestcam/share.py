"""A client of a shared camera (POSIX form of the sharing protocol): the SOCK_SEQPACKET socket of
the share, its segment "/NAME" and the robust process-shared mutex in "/NAMEMutex".

Every message is 12 bytes, three little-endian int32: a header (magic, type, size) or the
dimensions (width, height, format). The client asks for the dimensions (type 2), then each type 3
notice says a new image lies in the segment; it is copied out while the mutex is held."""

import ctypes
import ctypes.util
import errno
import fcntl
import logging
import mmap
import os
import platform
import socket
import struct
import sys
import time

from ._image import make_image

log = logging.getLogger("kestcam.share")

MAGIC = 0x53484452
TYPE_DIMENSIONS = 2
TYPE_FRAME = 3
MESSAGE_SIZE = 12
_MESSAGE = struct.Struct("<iii")
_BYTES_PER_PIXEL = {1: 1, 3: 3}

# The mutex object holds the pthread_mutex_t at offset 0; any object at least that large is one. Its
# maker holds an exclusive flock on it while it sets the mutex up, so an opener that gets a shared
# one finds it ready.
_CREATOR_GRACE_S = 1.0


def _pthread_mutex_size():
    """sizeof(pthread_mutex_t) of the C library (glibc: 40 bytes on 64-bit machines, 48 on arm64,
    24 on 32-bit ones)."""
    if ctypes.sizeof(ctypes.c_void_p) == 4:
        return 24
    return 48 if platform.machine().lower() in ("aarch64", "arm64") else 40


def socket_path(name):
    """Where the server of share `name` listens."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime:
        return os.path.join(runtime, "kestcam", name)
    return "/tmp/kestcam-%d/%s" % (os.geteuid(), name)


def check_name(name):
    if not isinstance(name, str) or not name or "/" in name or name.startswith(".") or "\0" in name:
        raise ValueError("%r is not a share name (a plain name, no '/', not starting with '.')" % (name,))


class _timespec(ctypes.Structure):
    _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]


def _posix_functions():
    """shm_open and the pthread mutex calls, from the C library (older C libraries keep them in
    librt and libpthread)."""
    libs = [ctypes.CDLL(None, use_errno=True)]
    for extra in ("rt", "pthread"):
        found = ctypes.util.find_library(extra)
        if found:
            libs.append(ctypes.CDLL(found, use_errno=True))

    def find(name, restype, argtypes):
        for lib in libs:
            function = getattr(lib, name, None)
            if function is not None:
                function.restype, function.argtypes = restype, argtypes
                return function
        raise OSError("the C library has no %s" % name)

    p = ctypes.c_void_p
    return {
        "shm_open": find("shm_open", ctypes.c_int, [ctypes.c_char_p, ctypes.c_int, ctypes.c_uint]),
        "timedlock": find("pthread_mutex_timedlock", ctypes.c_int, [p, ctypes.POINTER(_timespec)]),
        "consistent": find("pthread_mutex_consistent", ctypes.c_int, [p]),
        "unlock": find("pthread_mutex_unlock", ctypes.c_int, [p]),
    }


_posix = None


def _functions():
    global _posix
    if _posix is None:
        _posix = _posix_functions()
    return _posix


def _shm_open(name, flags):
    fd = _functions()["shm_open"](("/" + name).encode(), flags | os.O_CLOEXEC, 0)
    if fd < 0:
        code = ctypes.get_errno()
        raise OSError(code, "shm_open(/%s): %s" % (name, os.strerror(code)))
    return fd


class SharedMutex:
    """The share's robust process-shared mutex, mapped from "/NAMEMutex"."""

    def __init__(self, name):
        self._fd = _shm_open(name + "Mutex", os.O_RDWR)
        self._map = None
        self._anchor = None
        try:
            give_up = time.monotonic() + _CREATOR_GRACE_S
            while True:
                size = self._size_once_made()
                if size is not None and size >= _pthread_mutex_size():
                    break
                if size is not None and size > 0:
                    raise OSError("/%sMutex is not a share mutex (%d bytes)" % (name, size))
                if time.monotonic() >= give_up:
                    raise OSError("/%sMutex is not an initialised share mutex" % name)
                time.sleep(0.005)  # its maker is still setting it up
            self._map = mmap.mmap(self._fd, _pthread_mutex_size(), mmap.MAP_SHARED, mmap.PROT_READ | mmap.PROT_WRITE)
            self._anchor = ctypes.c_char.from_buffer(self._map)
            self._address = ctypes.addressof(self._anchor)
        except BaseException:
            self.close()
            raise

    def _size_once_made(self):
        """The object's size once its maker is done with it (0: it has not begun); None while it
        holds the object."""
        try:
            fcntl.flock(self._fd, fcntl.LOCK_SH | fcntl.LOCK_NB)
        except BlockingIOError:
            return None
        try:
            return os.fstat(self._fd).st_size
        finally:
            fcntl.flock(self._fd, fcntl.LOCK_UN)

    def acquire(self, timeout):
        """True once held; False when the mutex was not free within timeout seconds. An owner that
        died holding it leaves it acquirable: the mutex is made consistent and is ours."""
        deadline = time.time() + timeout
        until = _timespec(int(deadline), int((deadline % 1) * 1e9))
        rc = _functions()["timedlock"](self._address, ctypes.byref(until))
        if rc == errno.EOWNERDEAD:
            rc = _functions()["consistent"](self._address)
        if rc == errno.ETIMEDOUT:
            return False
        if rc != 0:
            raise OSError(rc, "locking the share mutex: %s" % os.strerror(rc))
        return True

    def release(self):
        _functions()["unlock"](self._address)

    def close(self):
        self._anchor = None  # the mapping cannot close while a ctypes object points into it
        if self._map is not None:
            self._map.close()
            self._map = None
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1


class ShareClient:
    """Connects to the share `name` and yields its frames:

        with ShareClient("Cam1") as client:
            for frame in client.frames(count=10):
                ...

    A frame is a numpy array (height, width) or (height, width, 3) of blue, green, red, or a
    RawImage when numpy is not importable (or use_numpy=False)."""

    def __init__(self, name, timeout=10.0, lock_timeout=5.0, use_numpy=None):
        if sys.platform == "win32":
            raise NotImplementedError("ShareClient speaks the POSIX form of the sharing protocol; on Windows "
                                      "the share is a named pipe, a file mapping and a named mutex")
        check_name(name)
        self.name = name
        self.lock_timeout = lock_timeout
        self.skipped = 0  # notices passed over because newer ones had queued up behind them
        self._use_numpy = use_numpy
        self._sock = None
        self._segment = None
        self._mutex = None
        self.width = self.height = self.format = 0
        self.connect(timeout)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def frame_bytes(self):
        return self.width * self.height * _BYTES_PER_PIXEL.get(self.format, 0)

    def connect(self, timeout=10.0):
        """Connects (trying again while the share does not exist yet or serves another client),
        asks for the dimensions and maps the segment and the mutex. TimeoutError when the share
        does not answer within timeout seconds."""
        self.close()
        path = socket_path(self.name)
        deadline = time.monotonic() + timeout
        while True:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            try:
                sock.settimeout(max(deadline - time.monotonic(), 0.001))
                sock.connect(path)
                self._sock = sock
                self._handshake(deadline)
                break
            except (FileNotFoundError, ConnectionRefusedError, BlockingIOError, ConnectionResetError) as error:
                # Not started yet, or serving another client: the server refuses (a non-blocking
                # connect finding its one place taken fails with EAGAIN). A reset is taken as a
                # refusal too.
                self.close()
                sock.close()
                if time.monotonic() >= deadline:
                    raise TimeoutError("share %r not reachable at %s: %s" % (self.name, path, error))
                time.sleep(0.05)
            except BaseException:
                self.close()
                sock.close()
                raise
        log.debug("share %s: %dx%d, format %d", self.name, self.width, self.height, self.format)

    def _handshake(self, deadline):
        """Asks for the dimensions and maps the segment and the mutex they describe."""
        self._sock.send(_MESSAGE.pack(MAGIC, TYPE_DIMENSIONS, 0))
        # Frame notices may come before the reply.
        while True:
            message = self._receive(deadline - time.monotonic())
            if message is None:
                raise ConnectionError("share %r closed before it sent the dimensions" % self.name)
            if len(message) == MESSAGE_SIZE and _MESSAGE.unpack(message)[0:2] == (MAGIC, TYPE_DIMENSIONS):
                break
        message = self._receive(deadline - time.monotonic())
        if message is None or len(message) != MESSAGE_SIZE:
            raise ConnectionError("share %r sent no dimensions" % self.name)
        self.width, self.height, self.format = _MESSAGE.unpack(message)
        if self.width <= 0 or self.height <= 0 or self.format not in _BYTES_PER_PIXEL:
            raise ConnectionError("share %r announced %dx%d format %d, which this client cannot use"
                                  % (self.name, self.width, self.height, self.format))
        fd = _shm_open(self.name, os.O_RDONLY)
        try:
            size = os.fstat(fd).st_size
            if size < self.frame_bytes:
                raise ConnectionError("segment /%s holds %d bytes, less than one image of %d"
                                      % (self.name, size, self.frame_bytes))
            self._segment = mmap.mmap(fd, size, mmap.MAP_SHARED, mmap.PROT_READ)
        finally:
            os.close(fd)
        self._mutex = SharedMutex(self.name)

    def close(self):
        if self._mutex is not None:
            self._mutex.close()
            self._mutex = None
        if self._segment is not None:
            self._segment.close()
            self._segment = None
        if self._sock is not None:
            self._sock.close()
            self._sock = None

    def _receive(self, timeout):
        """One message; None when the server ended the connection; TimeoutError past timeout."""
        if timeout is not None and timeout <= 0:
            raise TimeoutError("share %r: nothing within the time-out" % self.name)
        self._sock.settimeout(timeout)
        try:
            data = self._sock.recv(64)
        except socket.timeout:
            raise TimeoutError("share %r: nothing within the time-out" % self.name) from None
        return data if data else None

    def _queued(self):
        """A message already waiting, or None."""
        self._sock.settimeout(0.0)
        try:
            data = self._sock.recv(64)
        except (BlockingIOError, InterruptedError):
            return None
        return data if data else None

    def next_frame(self, timeout=10.0):
        """Waits for the next frame notice and copies the image out under the mutex. TimeoutError
        when none comes within timeout seconds (or the mutex stays held past lock_timeout);
        ConnectionError when the camera was closed."""
        if self._sock is None:
            raise ConnectionError("share %r is not connected" % self.name)
        deadline = time.monotonic() + timeout
        while True:
            message = self._receive(deadline - time.monotonic())
            if message is None:
                raise ConnectionError("share %r ended the connection (the camera was closed)" % self.name)
            if len(message) == MESSAGE_SIZE and _MESSAGE.unpack(message)[0:2] == (MAGIC, TYPE_FRAME):
                break
        # Notices queued behind this one announce frames the segment no longer holds.
        while True:
            message = self._queued()
            if message is None:
                break
            if len(message) == MESSAGE_SIZE and _MESSAGE.unpack(message)[0:2] == (MAGIC, TYPE_FRAME):
                self.skipped += 1
        if not self._mutex.acquire(self.lock_timeout):
            raise TimeoutError("share %r: the segment's mutex stayed held for %g s" % (self.name, self.lock_timeout))
        try:
            data = self._segment[:self.frame_bytes]
        finally:
            self._mutex.release()
        return make_image(data, self.height, self.width, _BYTES_PER_PIXEL[self.format], self._use_numpy)

    def frames(self, count=None, timeout=10.0):
        """Yields frames until count frames (None: no limit) or until the camera is closed."""
        n = 0
        while count is None or n < count:
            try:
                frame = self.next_frame(timeout)
            except ConnectionError:
                return
            n += 1
            yield frame

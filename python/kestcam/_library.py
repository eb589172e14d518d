"""The driver library loaded with ctypes: where it is found and the prototypes of its 18 exports."""

import ctypes
import ctypes.util
import os
import sys
import threading

# The exports use the C calling convention everywhere, the 32-bit Windows DLL included, so the
# library is a CDLL (never a WinDLL) and the callbacks are CFUNCTYPE.
DebugMsgProc = ctypes.CFUNCTYPE(None, ctypes.c_char_p)
CompleteCallback = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_int)

_c_int = ctypes.c_int
_c_int_p = ctypes.POINTER(ctypes.c_int)

# name: (result type, argument types), in the order of kestcam.h.
PROTOTYPES = {
    "initialize": (_c_int, [ctypes.c_char_p, DebugMsgProc]),
    "finalize": (_c_int, []),
    "setSystemPath": (_c_int, [ctypes.c_char_p]),
    "setDebugMsgProc": (None, [DebugMsgProc]),
    "getCVLMaxNoOfGrabbers": (_c_int, []),
    "getCVLMaxNoOfPorts": (_c_int, []),
    "getCVLNoOfSupportedCameras": (_c_int, []),
    "getCVLCameraConfigNames": (ctypes.POINTER(ctypes.c_char_p), []),
    "openCVLPort": (_c_int, [_c_int, _c_int, ctypes.c_char_p, _c_int_p]),
    "closeCVLPort": (None, [_c_int, _c_int]),
    "doCVLGrab": (_c_int, [_c_int, _c_int]),
    "getCVLGrabRow": (_c_int, [_c_int, _c_int, ctypes.c_void_p, _c_int, _c_int, _c_int]),
    "setHWTrigger": (_c_int, []),
    "setCompleteCallback": (_c_int, [_c_int, _c_int, CompleteCallback]),
    "getPropertyRange": (_c_int, [_c_int, _c_int, ctypes.c_char_p, _c_int_p, _c_int_p]),
    "getProperty": (_c_int, [_c_int, _c_int, ctypes.c_char_p, _c_int_p]),
    "setProperty": (_c_int, [_c_int, _c_int, ctypes.c_char_p, _c_int]),
    "configureCamera": (_c_int, [ctypes.c_void_p, ctypes.c_char_p]),
}

_FILE_NAME = "kestcam.dll" if sys.platform == "win32" else "libkestcam.so"
# The prefixes `cmake --install` uses by default, then the system's own.
_INSTALLED_DIRS = ["/usr/local/lib", "/usr/lib"]
if sys.platform != "win32":
    _multiarch = getattr(sys.implementation, "_multiarch", None)
    if _multiarch:
        _INSTALLED_DIRS = [d for base in _INSTALLED_DIRS for d in (base, base + "/" + _multiarch)]

_lock = threading.Lock()
_library = None


class LibraryNotFound(OSError):
    """The driver library is neither at KESTCAM_LIBRARY nor installed."""


def candidates():
    """The paths tried, in order: KESTCAM_LIBRARY alone when it is set, else the installed places."""
    explicit = os.environ.get("KESTCAM_LIBRARY")
    if explicit:
        return [explicit]
    paths = [os.path.join(d, _FILE_NAME) for d in _INSTALLED_DIRS]
    found = ctypes.util.find_library("kestcam")
    if found:
        paths.append(found)
    return paths


def _declare(lib):
    for name, (restype, argtypes) in PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def load(path=None):
    """The driver, loaded once per process (a host loads its driver once; the first load decides
    which): from path, else from KESTCAM_LIBRARY, else from the installed places. Raises
    LibraryNotFound with every place tried."""
    global _library
    with _lock:
        if _library is not None:
            return _library
        tried = []
        for candidate in [path] if path else candidates():
            if os.path.sep in candidate and not os.path.exists(candidate):
                tried.append(candidate + " (no such file)")
                continue
            try:
                _library = _declare(ctypes.CDLL(candidate))
                return _library
            except OSError as error:
                tried.append("%s (%s)" % (candidate, error))
        raise LibraryNotFound("the kestcam driver library was not found; set KESTCAM_LIBRARY to its path. Tried: "
                              + "; ".join(tried))

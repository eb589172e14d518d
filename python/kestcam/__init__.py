"""kestcam: the camera driver through ctypes.

    import kestcam
    with kestcam.Driver("/path/to/system") as driver:
        print(driver.cameras())
        with driver.open("Camera 1") as camera:
            image = camera.grab(timeout=5)

The driver library is KESTCAM_LIBRARY when set, else the installed libkestcam.so (kestcam.dll).
The driver's log goes to the logger "kestcam.driver"."""

from ._image import RawImage, have_numpy
from ._library import LibraryNotFound, load
from .driver import Camera, Driver, KestcamError
from .share import ShareClient

__all__ = ["Camera", "Driver", "KestcamError", "LibraryNotFound", "RawImage", "ShareClient", "have_numpy", "load"]
__version__ = "1.0.0"

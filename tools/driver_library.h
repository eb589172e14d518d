// driver_library.h - the driver loaded at run time and its exports resolved by name, as a host does.
#pragma once

#include <string>

#include "kestcam/kestcam.h"

namespace kestcam::cli {

struct DriverExports {
    int(KESTCAM_CDECL *initialize)(const char *, DebugMsgProc) = nullptr;
    int(KESTCAM_CDECL *finalize)(void) = nullptr;
    int(KESTCAM_CDECL *setSystemPath)(const char *) = nullptr;
    void(KESTCAM_CDECL *setDebugMsgProc)(DebugMsgProc) = nullptr;
    int(KESTCAM_CDECL *getCVLMaxNoOfGrabbers)(void) = nullptr;
    int(KESTCAM_CDECL *getCVLMaxNoOfPorts)(void) = nullptr;
    int(KESTCAM_CDECL *getCVLNoOfSupportedCameras)(void) = nullptr;
    char **(KESTCAM_CDECL *getCVLCameraConfigNames)(void) = nullptr;
    int(KESTCAM_CDECL *openCVLPort)(int, int, const char *, int *) = nullptr;
    void(KESTCAM_CDECL *closeCVLPort)(int, int) = nullptr;
    int(KESTCAM_CDECL *doCVLGrab)(int, int) = nullptr;
    int(KESTCAM_CDECL *getCVLGrabRow)(int, int, unsigned char *, int, int, int) = nullptr;
    int(KESTCAM_CDECL *setHWTrigger)(void) = nullptr;
    int(KESTCAM_CDECL *setCompleteCallback)(int, int, CompleteCallback) = nullptr;
    int(KESTCAM_CDECL *getPropertyRange)(int, int, const char *, int *, int *) = nullptr;
    int(KESTCAM_CDECL *getProperty)(int, int, const char *, int *) = nullptr;
    int(KESTCAM_CDECL *setProperty)(int, int, const char *, int) = nullptr;
    int(KESTCAM_CDECL *configureCamera)(void *, const char *) = nullptr;
};

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;

    // Loads the library and resolves the exports; false with a reason in error.
    bool Load(const std::string &path, std::string &error);
    // Resolves one export, or null when the library lacks it.
    void *Symbol(const char *name) const;
    const DriverExports &Exports() const { return exports_; }

    // The driver built beside this program (POSIX: else the installed one of its prefix, else the
    // one the system's loader finds by name).
    static std::string DefaultPath();
#ifndef _WIN32
    // The driver in dir, else in dir/libdirFromDir, else the bare file name for the system's loader.
    static std::string SearchFrom(const std::string &dir, const char *libdirFromDir);
#endif

private:
    bool OpenHandle(const std::string &path, std::string &error);

    void *handle_ = nullptr;
    DriverExports exports_;
};

// One byte per pixel for a monochrome camera, three (blue, green, red) for a colour one, of the
// camera open on port.
int CameraBytesPerPixel(const DriverExports &d, int port, int width);

} // namespace kestcam::cli

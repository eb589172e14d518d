/* kestcam.h - the host contract of the kestcam camera driver: 18 C exports and two callbacks. */
#ifndef KESTCAM_KESTCAM_H
#define KESTCAM_KESTCAM_H

#if defined(_WIN32)
#define KESTCAM_CDECL __cdecl
#if defined(KESTCAM_BUILDING_DRIVER)
#define KESTCAM_API __declspec(dllexport)
#else
#define KESTCAM_API __declspec(dllimport)
#endif
#else
#define KESTCAM_CDECL
#if defined(KESTCAM_BUILDING_DRIVER)
#define KESTCAM_API __attribute__((visibility("default")))
#else
#define KESTCAM_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Receives every log text that passes the level filter: first the time stamp, then the message. */
typedef void(KESTCAM_CDECL *DebugMsgProc)(const char *text);
/* Called on the camera's acquisition thread after each completed grab: (0, port). */
typedef void(KESTCAM_CDECL *CompleteCallback)(int grabberNo, int portNo);

/* Driver start, stop and camera list. */
KESTCAM_API int KESTCAM_CDECL initialize(const char *systemPath, DebugMsgProc proc);
KESTCAM_API int KESTCAM_CDECL finalize(void);
KESTCAM_API int KESTCAM_CDECL setSystemPath(const char *path);
KESTCAM_API void KESTCAM_CDECL setDebugMsgProc(DebugMsgProc proc);
KESTCAM_API int KESTCAM_CDECL getCVLMaxNoOfGrabbers(void);
KESTCAM_API int KESTCAM_CDECL getCVLMaxNoOfPorts(void);
KESTCAM_API int KESTCAM_CDECL getCVLNoOfSupportedCameras(void);
KESTCAM_API char **KESTCAM_CDECL getCVLCameraConfigNames(void);

/* Per-camera acquisition. */
KESTCAM_API int KESTCAM_CDECL openCVLPort(int grabberNo, int portNo, const char *cameraName, int geometry[2]);
KESTCAM_API void KESTCAM_CDECL closeCVLPort(int grabberNo, int portNo);
KESTCAM_API int KESTCAM_CDECL doCVLGrab(int grabberNo, int portNo);
KESTCAM_API int KESTCAM_CDECL getCVLGrabRow(int grabberNo, int portNo, unsigned char *dst, int row, int firstPix,
                                            int lastPix);
KESTCAM_API int KESTCAM_CDECL setHWTrigger(void);
KESTCAM_API int KESTCAM_CDECL setCompleteCallback(int grabberNo, int portNo, CompleteCallback callback);

/* Properties. */
KESTCAM_API int KESTCAM_CDECL getPropertyRange(int grabberNo, int portNo, const char *name, int *minimum, int *maximum);
KESTCAM_API int KESTCAM_CDECL getProperty(int grabberNo, int portNo, const char *prop, int *value);
KESTCAM_API int KESTCAM_CDECL setProperty(int grabberNo, int portNo, const char *name, int value);

/* Configuration dialog; parent is the host's owner window (HWND), or null. */
KESTCAM_API int KESTCAM_CDECL configureCamera(void *parent, const char *cameraName);

#ifdef __cplusplus
}
#endif

#endif

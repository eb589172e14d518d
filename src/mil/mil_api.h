// mil_api.h - the imaging library's functions as one table of pointers, filled by a backend.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KC_MILAPI __stdcall
#else
#define KC_MILAPI
#endif

namespace kestcam {

using MilId = int32_t;    // application, system, digitizer and buffer ids; 0 means none
using MilInt = int32_t;   // ordinary integer arguments
using MilInt64 = int64_t; // the arguments the call sites pass as 64-bit values

namespace mil {
constexpr MilInt kDefault = 0x10000000;        // M_DEFAULT
constexpr MilInt kErrorReporting = 0x40000000; // MappControl: error reporting
constexpr MilInt kPrintDisable = 0;            // MappControl: no error boxes
constexpr MilInt kInstalledSystemCount = 15063;
constexpr MilInt kInstalledSystemDescriptor = 82336; // + index
constexpr MilInt kErrorCurrent = 2;                  // MappGetError: is an error pending
constexpr MilInt kErrorMessage = 0x20000102;         // MappGetError: fill a 128-byte text
constexpr int kErrorTextSize = 128;
constexpr MilInt kBoardNumber = 1009;   // MsysInquire
constexpr MilInt kSerialNumber = 73239; // MsysInquire: text
constexpr MilInt kDigitizerNum = 2004;  // MsysInquire: digitizer count
constexpr MilInt64 kSizeX = 0x600;      // MdigInquire
constexpr MilInt64 kSizeY = 0x601;
constexpr MilInt64 kColorMode = 1018;
constexpr MilInt64 kSizeBand = 1005;
constexpr MilInt64 kSizeBit = 1007;
constexpr MilInt64 kControl4016 = 4016;     // set to 1.0 at every open
constexpr MilInt64 kGrabTimeout = 4127;     // MdigControl: grab time-out in ms
constexpr MilInt kSequence = 8;             // MdigProcess operation
constexpr MilInt kStop = 4;                 // MdigProcess operation
constexpr MilInt kSynchronous = 1;          // MdigProcess flag
constexpr MilInt64 kImageGrab = 12;         // M_IMAGE + M_GRAB buffer attribute
constexpr MilInt kPackedBgr24 = 0x21000;    // M_PACKED + M_BGR24
constexpr MilInt kAllBands = -1;
} // namespace mil

// The library's functions with the signatures the call sites use (stdcall on 32-bit Windows).
struct MilFunctions {
    MilId(KC_MILAPI *MappAlloc)(MilInt initFlag, MilId *app);
    void(KC_MILAPI *MappControl)(MilInt type, MilInt value);
    MilInt(KC_MILAPI *MappInquire)(MilInt type, void *result);
    void(KC_MILAPI *MappFree)(MilId app);
    MilInt(KC_MILAPI *MappGetError)(MilInt type, void *text);
    MilId(KC_MILAPI *MsysAlloc)(const char *descriptor, MilInt device, MilInt initFlag, MilId *system);
    MilInt(KC_MILAPI *MsysInquire)(MilId system, MilInt type, void *result);
    void(KC_MILAPI *MsysFree)(MilId system);
    MilId(KC_MILAPI *MdigAlloc)(MilId system, MilInt device, const char *dcf, MilInt initFlag, MilId *digitizer);
    MilInt(KC_MILAPI *MdigInquire)(MilId digitizer, MilInt64 type, void *result);
    void(KC_MILAPI *MdigControl)(MilId digitizer, MilInt64 type, double value);
    void(KC_MILAPI *MdigLut)(MilId digitizer, MilId lut);
    void(KC_MILAPI *MdigProcess)(MilId digitizer, MilId *buffers, MilInt count, MilInt operation, MilInt flag,
                                 void *hook, void *user);
    void(KC_MILAPI *MdigGrab)(MilId digitizer, MilId buffer);
    void(KC_MILAPI *MdigFree)(MilId digitizer);
    MilId(KC_MILAPI *MbufAlloc2d)(MilId system, MilInt width, MilInt height, MilInt type, MilInt64 attribute,
                                  MilId *buffer);
    MilId(KC_MILAPI *MbufAllocColor)(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type,
                                     MilInt64 attribute, MilId *buffer);
    void(KC_MILAPI *MbufGet2d)(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst);
    void(KC_MILAPI *MbufGetColor2d)(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                                    MilInt height, void *dst);
    void(KC_MILAPI *MbufFree)(MilId buffer);
};

// Optional functions a library may export beside the table, resolved by name: a camera's GenICam
// features as integers. Each answers 1 on success and 0 with the library's error pending. A library
// without them (the vendor's, the simulator) gives a table of null pointers: no feature access.
struct MilFeatureFunctions {
    MilInt(KC_MILAPI *FeatureGet)(MilId digitizer, const char *feature, MilInt64 *value);
    MilInt(KC_MILAPI *FeatureSet)(MilId digitizer, const char *feature, MilInt64 value);
    MilInt(KC_MILAPI *FeatureRange)(MilId digitizer, const char *feature, MilInt64 *min, MilInt64 *max);
};

// One entry of the by-ordinal import list: where a function lives in MIL.dll.
struct MilOrdinal {
    const char *name;
    int ordinal;
};
// The ordinals of every function in MilFunctions, in declaration order.
extern const MilOrdinal kMilOrdinals[20];

// The table in use. Chosen once per MilApp from KESTCAM_MIL: the simulator, a library loaded by
// ordinal, or (when neither can be had) a table whose MappAlloc fails, so the registry takes its
// ordinary "MappAlloc failed" path.
const MilFunctions &Mil();
// The feature functions of the library in use (all null when it has none).
const MilFeatureFunctions &MilFeatures();
// Re-selects the backend (called when the registry is created); logs why a backend is unavailable.
void SelectMilBackend();

} // namespace kestcam

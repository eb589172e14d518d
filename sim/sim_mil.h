// sim_mil.h - the simulated imaging library's entry points, with the signatures and calling
// convention of the library they stand for, and the function table that holds them.
#pragma once

#include "mil/mil_api.h"

// C linkage keeps the names undecorated, so the same functions can be exported from a DLL.
extern "C" {
kestcam::MilId KC_MILAPI SimMappAlloc(kestcam::MilInt initFlag, kestcam::MilId *app);
void KC_MILAPI SimMappControl(kestcam::MilInt type, kestcam::MilInt value);
kestcam::MilInt KC_MILAPI SimMappInquire(kestcam::MilInt type, void *result);
void KC_MILAPI SimMappFree(kestcam::MilId app);
kestcam::MilInt KC_MILAPI SimMappGetError(kestcam::MilInt type, void *text);
kestcam::MilId KC_MILAPI SimMsysAlloc(const char *descriptor, kestcam::MilInt device, kestcam::MilInt initFlag,
                                      kestcam::MilId *system);
kestcam::MilInt KC_MILAPI SimMsysInquire(kestcam::MilId system, kestcam::MilInt type, void *result);
void KC_MILAPI SimMsysFree(kestcam::MilId system);
kestcam::MilId KC_MILAPI SimMdigAlloc(kestcam::MilId system, kestcam::MilInt device, const char *dcf,
                                      kestcam::MilInt initFlag, kestcam::MilId *digitizer);
kestcam::MilInt KC_MILAPI SimMdigInquire(kestcam::MilId digitizer, kestcam::MilInt64 type, void *result);
void KC_MILAPI SimMdigControl(kestcam::MilId digitizer, kestcam::MilInt64 type, double value);
void KC_MILAPI SimMdigLut(kestcam::MilId digitizer, kestcam::MilId lut);
void KC_MILAPI SimMdigProcess(kestcam::MilId digitizer, kestcam::MilId *buffers, kestcam::MilInt count,
                              kestcam::MilInt operation, kestcam::MilInt flag, void *hook, void *user);
void KC_MILAPI SimMdigGrab(kestcam::MilId digitizer, kestcam::MilId buffer);
void KC_MILAPI SimMdigFree(kestcam::MilId digitizer);
kestcam::MilId KC_MILAPI SimMbufAlloc2d(kestcam::MilId system, kestcam::MilInt width, kestcam::MilInt height,
                                        kestcam::MilInt type, kestcam::MilInt64 attribute, kestcam::MilId *buffer);
kestcam::MilId KC_MILAPI SimMbufAllocColor(kestcam::MilId system, kestcam::MilInt bands, kestcam::MilInt width,
                                           kestcam::MilInt height, kestcam::MilInt type,
                                           kestcam::MilInt64 attribute, kestcam::MilId *buffer);
void KC_MILAPI SimMbufGet2d(kestcam::MilId buffer, kestcam::MilInt x, kestcam::MilInt y, kestcam::MilInt width,
                            kestcam::MilInt height, void *dst);
void KC_MILAPI SimMbufGetColor2d(kestcam::MilId buffer, kestcam::MilInt format, kestcam::MilInt band,
                                 kestcam::MilInt x, kestcam::MilInt y, kestcam::MilInt width,
                                 kestcam::MilInt height, void *dst);
void KC_MILAPI SimMbufFree(kestcam::MilId buffer);
}

// The table of the functions above, for the built-in backend.
const kestcam::MilFunctions &SimMilFunctions();

// sim_mil.cpp - the simulated imaging library's C entry points. Each clears the calling thread's
// error first (MappGetError excepted), so an error read after a call belongs to that call.
#include "sim/sim_mil.h"

#include "sim/sim_errors.h"
#include "sim/sim_library.h"

using kestcam::MilId;
using kestcam::MilInt;
using kestcam::MilInt64;
using kestcam::sim::ClearError;
using kestcam::sim::SimLibrary;

namespace {

// The id an allocation returns is also written where the caller asked for it.
MilId Deliver(MilId id, MilId *out) {
    if (out != nullptr) *out = id;
    return id;
}

} // namespace

extern "C" {

MilId KC_MILAPI SimMappAlloc(MilInt, MilId *app) {
    ClearError();
    return Deliver(SimLibrary::Instance().AppAlloc(), app);
}

void KC_MILAPI SimMappControl(MilInt type, MilInt value) {
    ClearError();
    SimLibrary::Instance().AppControl(type, value);
}

MilInt KC_MILAPI SimMappInquire(MilInt type, void *result) {
    ClearError();
    return SimLibrary::Instance().AppInquire(type, result);
}

void KC_MILAPI SimMappFree(MilId app) {
    ClearError();
    SimLibrary::Instance().AppFree(app);
}

MilInt KC_MILAPI SimMappGetError(MilInt type, void *text) {
    return kestcam::sim::GetError(type, text);
}

MilId KC_MILAPI SimMsysAlloc(const char *descriptor, MilInt device, MilInt, MilId *system) {
    ClearError();
    return Deliver(SimLibrary::Instance().SysAlloc(descriptor, device), system);
}

MilInt KC_MILAPI SimMsysInquire(MilId system, MilInt type, void *result) {
    ClearError();
    return SimLibrary::Instance().SysInquire(system, type, result);
}

void KC_MILAPI SimMsysFree(MilId system) {
    ClearError();
    SimLibrary::Instance().SysFree(system);
}

MilId KC_MILAPI SimMdigAlloc(MilId system, MilInt device, const char *dcf, MilInt, MilId *digitizer) {
    ClearError();
    return Deliver(SimLibrary::Instance().DigAlloc(system, device, dcf), digitizer);
}

MilInt KC_MILAPI SimMdigInquire(MilId digitizer, MilInt64 type, void *result) {
    ClearError();
    return SimLibrary::Instance().DigInquire(digitizer, type, result);
}

void KC_MILAPI SimMdigControl(MilId digitizer, MilInt64 type, double value) {
    ClearError();
    SimLibrary::Instance().DigControl(digitizer, type, value);
}

void KC_MILAPI SimMdigLut(MilId digitizer, MilId lut) {
    ClearError();
    SimLibrary::Instance().DigLut(digitizer, lut);
}

// Hook functions are not called: the driver registers none and learns of completion from the
// synchronous return.
void KC_MILAPI SimMdigProcess(MilId digitizer, MilId *buffers, MilInt count, MilInt operation, MilInt flag, void *,
                              void *) {
    ClearError();
    SimLibrary::Instance().DigProcess(digitizer, buffers, count, operation, flag);
}

void KC_MILAPI SimMdigGrab(MilId digitizer, MilId buffer) {
    ClearError();
    SimLibrary::Instance().DigGrab(digitizer, buffer);
}

void KC_MILAPI SimMdigFree(MilId digitizer) {
    ClearError();
    SimLibrary::Instance().DigFree(digitizer);
}

MilId KC_MILAPI SimMbufAlloc2d(MilId system, MilInt width, MilInt height, MilInt type, MilInt64, MilId *buffer) {
    ClearError();
    return Deliver(SimLibrary::Instance().BufAlloc(system, 1, width, height, type, "MbufAlloc2d"), buffer);
}

MilId KC_MILAPI SimMbufAllocColor(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type, MilInt64,
                                  MilId *buffer) {
    ClearError();
    return Deliver(SimLibrary::Instance().BufAlloc(system, bands, width, height, type, "MbufAllocColor"), buffer);
}

void KC_MILAPI SimMbufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst) {
    ClearError();
    SimLibrary::Instance().BufGet2d(buffer, x, y, width, height, dst);
}

void KC_MILAPI SimMbufGetColor2d(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                                 MilInt height, void *dst) {
    ClearError();
    SimLibrary::Instance().BufGetColor2d(buffer, format, band, x, y, width, height, dst);
}

void KC_MILAPI SimMbufFree(MilId buffer) {
    ClearError();
    SimLibrary::Instance().BufFree(buffer);
}

} // extern "C"

const kestcam::MilFunctions &SimMilFunctions() {
    static const kestcam::MilFunctions table = [] {
        kestcam::MilFunctions t{};
        t.MappAlloc = SimMappAlloc;
        t.MappControl = SimMappControl;
        t.MappInquire = SimMappInquire;
        t.MappFree = SimMappFree;
        t.MappGetError = SimMappGetError;
        t.MsysAlloc = SimMsysAlloc;
        t.MsysInquire = SimMsysInquire;
        t.MsysFree = SimMsysFree;
        t.MdigAlloc = SimMdigAlloc;
        t.MdigInquire = SimMdigInquire;
        t.MdigControl = SimMdigControl;
        t.MdigLut = SimMdigLut;
        t.MdigProcess = SimMdigProcess;
        t.MdigGrab = SimMdigGrab;
        t.MdigFree = SimMdigFree;
        t.MbufAlloc2d = SimMbufAlloc2d;
        t.MbufAllocColor = SimMbufAllocColor;
        t.MbufGet2d = SimMbufGet2d;
        t.MbufGetColor2d = SimMbufGetColor2d;
        t.MbufFree = SimMbufFree;
        return t;
    }();
    return table;
}

// mil_backend.cpp - the ordinal list, the table in use and the table that always fails.
#include "mil/mil_backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "sim/sim_mil.h"

namespace kestcam {

const MilOrdinal kMilOrdinals[20] = {
    {"MappAlloc", 1648},   {"MappControl", 101},    {"MappInquire", 106},   {"MappFree", 102},
    {"MappGetError", 103}, {"MsysAlloc", 1641},     {"MsysInquire", 276},   {"MsysFree", 275},
    {"MdigAlloc", 1647},   {"MdigInquire", 147},    {"MdigControl", 141},   {"MdigLut", 148},
    {"MdigProcess", 1506}, {"MdigGrab", 143},       {"MdigFree", 142},      {"MbufAlloc2d", 109},
    {"MbufAllocColor", 110}, {"MbufGet2d", 125},    {"MbufGetColor2d", 928}, {"MbufFree", 123},
};

namespace {

MilId KC_MILAPI NoMappAlloc(MilInt, MilId *app) {
    if (app != nullptr) *app = 0;
    return 0;
}
void KC_MILAPI NoMappControl(MilInt, MilInt) {}
MilInt KC_MILAPI NoMappInquire(MilInt, void *) { return 0; }
void KC_MILAPI NoFree(MilId) {}
MilInt KC_MILAPI NoMappGetError(MilInt, void *text) {
    if (text != nullptr) static_cast<char *>(text)[0] = '\0';
    return 0;
}
MilId KC_MILAPI NoMsysAlloc(const char *, MilInt, MilInt, MilId *system) {
    if (system != nullptr) *system = 0;
    return 0;
}
MilInt KC_MILAPI NoMsysInquire(MilId, MilInt, void *) { return 0; }
MilId KC_MILAPI NoMdigAlloc(MilId, MilInt, const char *, MilInt, MilId *digitizer) {
    if (digitizer != nullptr) *digitizer = 0;
    return 0;
}
MilInt KC_MILAPI NoMdigInquire(MilId, MilInt64, void *) { return 0; }
void KC_MILAPI NoMdigControl(MilId, MilInt64, double) {}
void KC_MILAPI NoMdigLut(MilId, MilId) {}
void KC_MILAPI NoMdigProcess(MilId, MilId *, MilInt, MilInt, MilInt, void *, void *) {}
void KC_MILAPI NoMdigGrab(MilId, MilId) {}
MilId KC_MILAPI NoMbufAlloc2d(MilId, MilInt, MilInt, MilInt, MilInt64, MilId *buffer) {
    if (buffer != nullptr) *buffer = 0;
    return 0;
}
MilId KC_MILAPI NoMbufAllocColor(MilId, MilInt, MilInt, MilInt, MilInt, MilInt64, MilId *buffer) {
    if (buffer != nullptr) *buffer = 0;
    return 0;
}
void KC_MILAPI NoMbufGet2d(MilId, MilInt, MilInt, MilInt, MilInt, void *) {}
void KC_MILAPI NoMbufGetColor2d(MilId, MilInt, MilInt, MilInt, MilInt, MilInt, MilInt, void *) {}

const MilFunctions kUnavailable = {
    NoMappAlloc,   NoMappControl, NoMappInquire, NoFree,        NoMappGetError,  NoMsysAlloc,   NoMsysInquire,
    NoFree,        NoMdigAlloc,   NoMdigInquire, NoMdigControl, NoMdigLut,       NoMdigProcess, NoMdigGrab,
    NoFree,        NoMbufAlloc2d, NoMbufAllocColor, NoMbufGet2d, NoMbufGetColor2d, NoFree,
};

const MilFeatureFunctions kNoFeatures = {nullptr, nullptr, nullptr};

std::atomic<const MilFunctions *> g_current{&kUnavailable};
std::atomic<const MilFeatureFunctions *> g_features{&kNoFeatures};

} // namespace

const MilFunctions &UnavailableMilFunctions() { return kUnavailable; }

const MilFunctions &BuiltInSimulatorFunctions() { return SimMilFunctions(); }

const MilFeatureFunctions &NoMilFeatureFunctions() { return kNoFeatures; }

const MilFunctions &Mil() { return *g_current.load(std::memory_order_acquire); }

const MilFeatureFunctions &MilFeatures() { return *g_features.load(std::memory_order_acquire); }

void SelectMilBackend() {
    const char *selection = std::getenv("KESTCAM_MIL");
    if (selection != nullptr && selection[0] == '\0') selection = nullptr;
    g_current.store(&PlatformMilFunctions(selection), std::memory_order_release);
    g_features.store(&PlatformMilFeatureFunctions(selection), std::memory_order_release);
}

} // namespace kestcam

// genicam_exports.cpp - the GenICam backend's C entry points, by name: the imaging library's
// functions the driver calls, and the feature functions it looks for beside them. Each clears the
// calling thread's error first (MappGetError excepted), so an error read after a call belongs to it.
#include "genicam_library.h"

using kestcam::MilId;
using kestcam::MilInt;
using kestcam::MilInt64;
using kestcam::genicam::ClearError;
using kestcam::genicam::GenicamLibrary;

#define KC_GENICAM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

MilId Deliver(MilId id, MilId *out) {
    if (out != nullptr) *out = id;
    return id;
}

GenicamLibrary &Library() {
    ClearError();
    return GenicamLibrary::Instance();
}

} // namespace

KC_GENICAM_EXPORT MilId MappAlloc(MilInt, MilId *app) {
    return Deliver(Library().AppAlloc(), app);
}
KC_GENICAM_EXPORT void MappControl(MilInt type, MilInt value) {
    Library().AppControl(type, value);
}
KC_GENICAM_EXPORT MilInt MappInquire(MilInt type, void *result) {
    return Library().AppInquire(type, result);
}
KC_GENICAM_EXPORT void MappFree(MilId app) {
    Library().AppFree(app);
}
KC_GENICAM_EXPORT MilInt MappGetError(MilInt type, void *text) {
    return kestcam::genicam::GetError(type, text);
}
KC_GENICAM_EXPORT MilId MsysAlloc(const char *descriptor, MilInt device, MilInt, MilId *system) {
    return Deliver(Library().SysAlloc(descriptor, device), system);
}
KC_GENICAM_EXPORT MilInt MsysInquire(MilId system, MilInt type, void *result) {
    return Library().SysInquire(system, type, result);
}
KC_GENICAM_EXPORT void MsysFree(MilId system) {
    Library().SysFree(system);
}
KC_GENICAM_EXPORT MilId MdigAlloc(MilId system, MilInt device, const char *dcf, MilInt, MilId *digitizer) {
    return Deliver(Library().DigAlloc(system, device, dcf), digitizer);
}
KC_GENICAM_EXPORT MilInt MdigInquire(MilId digitizer, MilInt64 type, void *result) {
    return Library().DigInquire(digitizer, type, result);
}
KC_GENICAM_EXPORT void MdigControl(MilId digitizer, MilInt64 type, double value) {
    Library().DigControl(digitizer, type, value);
}
KC_GENICAM_EXPORT void MdigLut(MilId digitizer, MilId lut) {
    Library().DigLut(digitizer, lut);
}
// Hook functions are not called: the driver registers none and learns of completion from the
// synchronous return.
KC_GENICAM_EXPORT void MdigProcess(MilId digitizer, MilId *buffers, MilInt count, MilInt operation, MilInt flag,
                                   void *, void *) {
    Library().DigProcess(digitizer, buffers, count, operation, flag);
}
KC_GENICAM_EXPORT void MdigGrab(MilId digitizer, MilId buffer) {
    Library().DigGrab(digitizer, buffer);
}
KC_GENICAM_EXPORT void MdigFree(MilId digitizer) {
    Library().DigFree(digitizer);
}
KC_GENICAM_EXPORT MilId MbufAlloc2d(MilId system, MilInt width, MilInt height, MilInt type, MilInt64,
                                    MilId *buffer) {
    return Deliver(Library().BufAlloc(system, 1, width, height, type, "MbufAlloc2d"), buffer);
}
KC_GENICAM_EXPORT MilId MbufAllocColor(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type,
                                       MilInt64, MilId *buffer) {
    return Deliver(Library().BufAlloc(system, bands, width, height, type, "MbufAllocColor"), buffer);
}
KC_GENICAM_EXPORT void MbufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst) {
    Library().BufGet2d(buffer, x, y, width, height, dst);
}
KC_GENICAM_EXPORT void MbufGetColor2d(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                                      MilInt height, void *dst) {
    Library().BufGetColor2d(buffer, format, band, x, y, width, height, dst);
}
KC_GENICAM_EXPORT void MbufFree(MilId buffer) {
    Library().BufFree(buffer);
}

// Feature access: 1 on success, 0 with the error pending.
KC_GENICAM_EXPORT MilInt KcFeatureGet(MilId digitizer, const char *feature, MilInt64 *value) {
    return Library().FeatureGet(digitizer, feature, value) ? 1 : 0;
}
KC_GENICAM_EXPORT MilInt KcFeatureSet(MilId digitizer, const char *feature, MilInt64 value) {
    return Library().FeatureSet(digitizer, feature, value) ? 1 : 0;
}
KC_GENICAM_EXPORT MilInt KcFeatureRange(MilId digitizer, const char *feature, MilInt64 *min, MilInt64 *max) {
    return Library().FeatureRange(digitizer, feature, min, max) ? 1 : 0;
}

// partial_library.cpp - an imaging library that lacks one function (MbufGetColor2d): the driver
// must refuse it whole. Never called.
#include <cstdint>

#define KC_PARTIAL_EXPORT extern "C" __attribute__((visibility("default")))

KC_PARTIAL_EXPORT int32_t MappAlloc(int32_t, int32_t *) {
    return 0;
}
KC_PARTIAL_EXPORT void MappControl(int32_t, int32_t) {}
KC_PARTIAL_EXPORT int32_t MappInquire(int32_t, void *) {
    return 0;
}
KC_PARTIAL_EXPORT void MappFree(int32_t) {}
KC_PARTIAL_EXPORT int32_t MappGetError(int32_t, void *) {
    return 0;
}
KC_PARTIAL_EXPORT int32_t MsysAlloc(const char *, int32_t, int32_t, int32_t *) {
    return 0;
}
KC_PARTIAL_EXPORT int32_t MsysInquire(int32_t, int32_t, void *) {
    return 0;
}
KC_PARTIAL_EXPORT void MsysFree(int32_t) {}
KC_PARTIAL_EXPORT int32_t MdigAlloc(int32_t, int32_t, const char *, int32_t, int32_t *) {
    return 0;
}
KC_PARTIAL_EXPORT int32_t MdigInquire(int32_t, int64_t, void *) {
    return 0;
}
KC_PARTIAL_EXPORT void MdigControl(int32_t, int64_t, double) {}
KC_PARTIAL_EXPORT void MdigLut(int32_t, int32_t) {}
KC_PARTIAL_EXPORT void MdigProcess(int32_t, int32_t *, int32_t, int32_t, int32_t, void *, void *) {}
KC_PARTIAL_EXPORT void MdigGrab(int32_t, int32_t) {}
KC_PARTIAL_EXPORT void MdigFree(int32_t) {}
KC_PARTIAL_EXPORT int32_t MbufAlloc2d(int32_t, int32_t, int32_t, int32_t, int64_t, int32_t *) {
    return 0;
}
KC_PARTIAL_EXPORT int32_t MbufAllocColor(int32_t, int32_t, int32_t, int32_t, int32_t, int64_t, int32_t *) {
    return 0;
}
KC_PARTIAL_EXPORT void MbufGet2d(int32_t, int32_t, int32_t, int32_t, int32_t, void *) {}
KC_PARTIAL_EXPORT void MbufFree(int32_t) {}

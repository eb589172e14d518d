// mil_grab_buffers.cpp - allocation and re-use of the grab-buffer ring.
#include "acquisition/mil_grab_buffers.h"

#include <algorithm>
#include <new>

#include "driver/logger.h"
#include "mil/mil_app.h"
#include "settings/camera_settings.h"

namespace kestcam {

MilGrabBuffers::MilGrabBuffers(MilSystem *system) : system_(system) {}

MilGrabBuffers::~MilGrabBuffers() {
    ReleaseBuffers();
}

void MilGrabBuffers::ReleaseBuffers() {
    for (int i = 0; i < bufCount_; ++i) {
        if (bufIds_[i] != 0) Mil().MbufFree(bufIds_[i]);
        bufIds_[i] = 0;
    }
    bufCount_ = 0;
    RowVector<uint16_t>().swap(rowBuffer_);
    initialized_ = false;
}

void MilGrabBuffers::Init(CameraSettings *settings, int width, int height, int sizeband, const uint16_t *lut) {
    KC_LOG(3, "MilGrabBuffers::Init: entering\n");
    const int allocatedBands = sizeband_;
    sizeband_ = sizeband;
    settings_ = settings;
    lut_ = lut;
    const int frameCount = settings->HeightMultiplier.value;

    // A ring that cannot serve the requested image is not kept as if it could: the camera would
    // announce rows the buffers do not hold.
    if (width <= 0 || height <= 0 || frameCount < 1) {
        KC_LOG(1, "MilGrabBuffers::Init: ERROR: incorrect dimensions width=%d height=%d frames=%d maxBufSize=%d\n",
               width, height, frameCount, kReportedMaxBufSize);
        ReleaseBuffers();
        return;
    }
    if (frameCount > maxBufferCount) {
        KC_LOG(1, "MilGrabBuffers::Init: ERROR: frameCount=%d exceeds maxBufferCount=%d\n", frameCount,
               maxBufferCount);
        ReleaseBuffers();
        return;
    }

    const int pixelsize = sizeband == 3 ? 8 : (settings->Use16bit.value != 0 ? 16 : 8);
    if (initialized_ && frameCount == bufCount_ && width == width_ && height == height_ &&
        pixelsize == pixelsize_ && sizeband == allocatedBands)
        return;
    ReleaseBuffers();
    pixelsize_ = pixelsize;

    try {
        rowBuffer_.assign(static_cast<size_t>(width), 0);
    } catch (const std::bad_alloc &) {
        KC_LOG(
            1,
            "MilGrabBuffers::Init: ERROR: memory allocation failed for the temp buffer, width=%d, pixelsize=%d\n",
            width, pixelsize_);
        return;
    }
    bufCount_ = frameCount;
    width_ = width;
    height_ = height;

    const MilId systemId = system_ != nullptr ? system_->SystemId() : 0;
    for (int i = 0; i < bufCount_; ++i) {
        MilId id = 0;
        MilId returned = 0;
        if (sizeband_ == 1)
            returned = Mil().MbufAlloc2d(systemId, width_, height_, pixelsize_, mil::kImageGrab, &id);
        else
            returned =
                Mil().MbufAllocColor(systemId, sizeband_, width_, height_, pixelsize_, mil::kImageGrab, &id);
        bufIds_[i] = id;
        if (returned == 0 || id == 0) {
            if (sizeband_ == 1)
                KC_LOG(1,
                       "MilGrabBuffers::Init: ERROR: MbufAlloc2d failed for buffer %d out of %d, image:%dx%d, "
                       "pixelsize=%d, %s\n",
                       i, bufCount_, width_, height_, pixelsize_, GetMilErrorText().c_str());
            else
                KC_LOG(1,
                       "MilGrabBuffers::Init: ERROR: MbufAllocColor failed for buffer %d out of %d, image:%dx%d, "
                       "pixelsize=%d, sizeband=%d, %s\n",
                       i, bufCount_, width_, height_, pixelsize_, sizeband_, GetMilErrorText().c_str());
            return;
        }
    }
    initialized_ = true;
    KC_LOG(3, "MilGrabBuffers::Init: leaving\n");
}

} // namespace kestcam

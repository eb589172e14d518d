// mil_grab_buffers.cpp - allocation and re-use of the grab-buffer ring, and the row read-out with
// its 8-bit conversions.
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
    rowBuffer_.reset();
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

    rowBuffer_.reset(new (std::nothrow) uint16_t[static_cast<size_t>(width)]());
    if (!rowBuffer_) {
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

bool MilGrabBuffers::GetRow(unsigned char *dst, unsigned row, int firstPix, int lastPix) {
    // An unallocated ring has no height to divide by and no buffer to read.
    if (!initialized_ || height_ <= 0) {
        KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: buffers not initialized, row=%u\n", row);
        return false;
    }
    const unsigned ibuf = row / static_cast<unsigned>(height_);
    const unsigned line = row % static_cast<unsigned>(height_);
    if (ibuf >= static_cast<unsigned>(bufCount_)) {
        KC_LOG(1,
               "MilGrabBuffers::GetRow: ERROR: incorrect buffer index ibuf=%d, bufCount=%d, row=%d, height=%d\n",
               static_cast<int>(ibuf), bufCount_, static_cast<int>(row), height_);
        return false;
    }
    // The ring's own width bounds every transfer: rowBuffer_ holds width_ entries.
    if (firstPix < 0 || lastPix < firstPix || lastPix >= width_) {
        KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: columns firstPix=%d lastPix=%d outside the buffer width=%d\n",
               firstPix, lastPix, width_);
        return false;
    }

    const int shift = settings_->Shift16bit.value;
    const size_t count = static_cast<size_t>(lastPix - firstPix) + 1;
    const MilId id = bufIds_[ibuf];
    const MilInt y = static_cast<MilInt>(line);

    if (pixelsize_ == 8) {
        if (sizeband_ == 1)
            Mil().MbufGet2d(id, firstPix, y, static_cast<MilInt>(count), 1, dst);
        else if (sizeband_ == 3)
            Mil().MbufGetColor2d(id, mil::kPackedBgr24, mil::kAllBands, firstPix, y, static_cast<MilInt>(count), 1,
                                 dst);
        else
            return true; // no band layout to transfer
        if (settings_->UseLUT.value != 0 && sizeband_ == 1 && lut_ != nullptr)
            LutRow8(dst, count, lut_);
        else if (shift > 0)
            ShiftRow8(dst, count * static_cast<size_t>(sizeband_), shift);
        return true;
    }
    if (pixelsize_ == 16 && sizeband_ == 1) {
        // One copy of the whole span: the staging row (16 KB for 8160 pixels) stays in the first-level
        // cache for the conversion, and splitting the copy would only add per-call costs.
        uint16_t *staging = rowBuffer_.get();
        Mil().MbufGet2d(id, firstPix, y, static_cast<MilInt>(count), 1, staging);
        if (lut_ != nullptr)
            LutRow16(staging, dst, count, lut_);
        else if (shift > 0)
            ShiftRow16(staging, dst, count, shift);
        else
            LowByteRow16(staging, dst, count);
        return true;
    }
    KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: unrecognized pixel size=%d\n", pixelsize_);
    return false;
}

} // namespace kestcam

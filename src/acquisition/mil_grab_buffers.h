// mil_grab_buffers.h - a camera's ring of grab buffers (one per frame of a grab, up to 50), read
// back as one tall image, row by row, converted to 8 bits per sample.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "acquisition/row_conversion.h"
#include "mil/mil_api.h"

namespace kestcam {

class CameraSettings;
class MilSystem;

// Not synchronised: the owning camera serialises Init, ReleaseBuffers and the table calls, and reads
// rows through the plans it makes from the ring (row_plan.h).
class MilGrabBuffers {
public:
    static constexpr int maxBufferCount = 50;
    // Only reported in the "incorrect dimensions" line; it bounds nothing.
    static constexpr int kReportedMaxBufSize = 32640000;

    explicit MilGrabBuffers(MilSystem *system);
    ~MilGrabBuffers();
    MilGrabBuffers(const MilGrabBuffers &) = delete;
    MilGrabBuffers &operator=(const MilGrabBuffers &) = delete;

    // (Re)allocates HeightMultiplier buffers of width x height with sizeband bands; an unchanged
    // geometry keeps the buffers and their contents. lut (131072 entries) or null: the table rows
    // are converted through. The caller reads IsInitialized afterwards.
    void Init(CameraSettings *settings, int width, int height, int sizeband, const uint16_t *lut);
    bool IsInitialized() const { return initialized_; }
    void ReleaseBuffers();
    // Rows are converted by the shift rule from now on.
    void DetachLut() { lut_ = nullptr; }
    // The camera's table moved to new memory: an attached table follows it.
    void MoveLut(const uint16_t *from, const uint16_t *to) {
        if (lut_ != nullptr && lut_ == from) lut_ = to;
    }

    int BufCount() const { return bufCount_; }
    MilId *BufIds() { return bufIds_.data(); }
    const MilId *BufIds() const { return bufIds_.data(); }
    // Staging for 16-bit rows read under the camera's row lock (width_ entries), or null.
    uint16_t *RowBuffer() { return rowBuffer_.empty() ? nullptr : rowBuffer_.data(); }
    int SizeBand() const { return sizeband_; }
    int PixelSize() const { return pixelsize_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    const uint16_t *Lut() const { return lut_; }

private:
    std::array<MilId, maxBufferCount> bufIds_{};
    int bufCount_ = 0;
    int width_ = 0;
    int height_ = 0;
    RowVector<uint16_t> rowBuffer_; // staging for 16-bit rows, width_ entries, on a cache line
    bool initialized_ = false;
    MilSystem *system_;
    CameraSettings *settings_ = nullptr;
    const uint16_t *lut_ = nullptr;
    int sizeband_ = -1;
    int pixelsize_ = 8;
};

} // namespace kestcam

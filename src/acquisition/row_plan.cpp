// row_plan.cpp - a row plan made from the settings and the ring, and the row read it drives: the
// checks and messages of MilDigitizer::GetRow and MilGrabBuffers::GetRow, the copy and the kernels.
#include "acquisition/row_plan.h"

#include <algorithm>
#include <cstring>

#include "acquisition/mil_grab_buffers.h"
#include "acquisition/row_conversion.h"
#include "driver/logger.h"
#include "settings/camera_settings.h"

namespace kestcam {

RowPlan RowPlan::Make(const CameraSettings &settings, const MilGrabBuffers &ring, bool stable) {
    RowPlan plan;
    plan.stable = stable;
    plan.height = settings.Height.max;
    plan.frames = settings.HeightMultiplier.value;
    plan.width = settings.Width.max;
    plan.initialized = ring.IsInitialized();
    plan.bufHeight = ring.Height();
    plan.bufCount = std::clamp(ring.BufCount(), 0, kMaxBuffers);
    plan.bufWidth = ring.Width();
    plan.pixelSize = ring.PixelSize();
    plan.sizeBand = ring.SizeBand();
    std::copy(ring.BufIds(), ring.BufIds() + plan.bufCount, plan.ids.begin());
    if (plan.bufHeight > 1) plan.heightReciprocal = UINT64_MAX / static_cast<uint64_t>(plan.bufHeight) + 1;
    plan.shift = settings.Shift16bit.value;
    plan.useLut = settings.UseLUT.value != 0;
    plan.lut = ring.Lut();
    plan.rows = static_cast<long long>(plan.height) * plan.frames;
    const bool plain = plan.initialized && plan.bufHeight > 0 && plan.pixelSize == 8 && plan.sizeBand == 1 &&
                       !(plan.useLut && plan.lut != nullptr) && plan.shift <= 0;
    if (plain) plan.plainColumns = static_cast<unsigned>(std::max(0, std::min(plan.width, plan.bufWidth)));
    plan.get2d = Mil().MbufGet2d;
    plan.getColor2d = Mil().MbufGetColor2d;
    return plan;
}

bool RowPlan::SameAs(const RowPlan &o) const {
    return stable == o.stable && height == o.height && frames == o.frames && width == o.width &&
           initialized == o.initialized && bufHeight == o.bufHeight && bufCount == o.bufCount &&
           bufWidth == o.bufWidth && heightReciprocal == o.heightReciprocal && pixelSize == o.pixelSize &&
           sizeBand == o.sizeBand && ids == o.ids && shift == o.shift && useLut == o.useLut && lut == o.lut &&
           get2d == o.get2d && getColor2d == o.getColor2d;
}

bool RowPlan::ReadChecked(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix, uint16_t *staging,
                          bool &checked) const {
    const long long rowCount = RowCount();
    if (row < 0 || row >= rowCount) {
        KC_LOG(1, "MilDigitizer::GetRow: ERROR: invalid row number=%d height=%d frames=%d\n", row, height, frames);
        return false;
    }
    // Compared as unsigned values, so negative columns count as huge ones. The span must also end
    // inside the image: a first column near the end would otherwise read past the row.
    const unsigned imageWidth = width > 0 ? static_cast<unsigned>(width) : 0u;
    if (lastPix <= firstPix || lastPix - firstPix >= imageWidth || lastPix >= imageWidth) {
        KC_LOG(1, "MilDigitizer::GetRow: ERROR: invalid column, lastPix=%d firstPix=%d width=%d\n",
               static_cast<int>(lastPix), static_cast<int>(firstPix), width);
        return false;
    }
    checked = true;

    // The ring: an unallocated one has no height to divide by and no buffer to read.
    const unsigned ringRow = static_cast<unsigned>(row);
    if (!initialized || bufHeight <= 0) {
        KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: buffers not initialized, row=%u\n", ringRow);
        return false;
    }
    unsigned ibuf = 0;
    unsigned line = 0;
    Locate(ringRow, ibuf, line);
    if (ibuf >= static_cast<unsigned>(bufCount)) {
        KC_LOG(1,
               "MilGrabBuffers::GetRow: ERROR: incorrect buffer index ibuf=%d, bufCount=%d, row=%d, height=%d\n",
               static_cast<int>(ibuf), bufCount, static_cast<int>(ringRow), bufHeight);
        return false;
    }
    // The ring's own width bounds every transfer: a staging row holds bufWidth entries.
    const int first = static_cast<int>(firstPix);
    const int last = static_cast<int>(lastPix);
    if (first < 0 || last < first || last >= bufWidth) {
        KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: columns firstPix=%d lastPix=%d outside the buffer width=%d\n",
               first, last, bufWidth);
        return false;
    }

    const size_t count = static_cast<size_t>(last - first) + 1;
    const MilId id = ids[ibuf];
    const MilInt y = static_cast<MilInt>(line);

    if (pixelSize == 8) {
        if (sizeBand == 1)
            get2d(id, first, y, static_cast<MilInt>(count), 1, dst);
        else if (sizeBand == 3)
            getColor2d(id, mil::kPackedBgr24, mil::kAllBands, first, y, static_cast<MilInt>(count), 1, dst);
        else
            return true; // no band layout to transfer
        if (useLut && sizeBand == 1 && lut != nullptr)
            LutRow8(dst, count, lut);
        else if (shift > 0)
            ShiftRow8(dst, count * static_cast<size_t>(sizeBand), shift);
        return true;
    }
    if (pixelSize == 16 && sizeBand == 1 && staging != nullptr) {
        // One copy of the whole span: the staging row (16 KB for 8160 pixels) stays in the first-level
        // cache for the conversion, and splitting the copy would only add per-call costs.
        get2d(id, first, y, static_cast<MilInt>(count), 1, staging);
        if (lut != nullptr)
            LutRow16(staging, dst, count, lut);
        else if (shift > 0)
            ShiftRow16(staging, dst, count, shift);
        else
            LowByteRow16(staging, dst, count);
        return true;
    }
    KC_LOG(1, "MilGrabBuffers::GetRow: ERROR: unrecognized pixel size=%d\n", pixelSize);
    return false;
}

} // namespace kestcam

// row_plan.h - everything one row read needs, fixed in one object: the image the camera announces,
// the ring's buffers and the conversion to 8 bits. A camera publishes a new plan for every change
// rather than change one that readers may be using, so a row read takes no lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "mil/mil_api.h"

namespace kestcam {

class CameraSettings;
class MilGrabBuffers;

struct RowPlan {
    static constexpr int kMaxBuffers = 50;

    // False while the ring is being re-allocated: a reader then waits for the camera's row lock, as
    // if it had arrived after the change.
    bool stable = true;

    // The image as the camera announces it: maximum of Height, HeightMultiplier, maximum of Width.
    int height = 0;
    int frames = 0;
    int width = 0;

    // The ring.
    bool initialized = false;
    int bufHeight = 0;
    int bufCount = 0;
    int bufWidth = 0;
    int pixelSize = 8;
    int sizeBand = -1;
    std::array<MilId, kMaxBuffers> ids{};
    // 2^64 / bufHeight, rounded up (0 for a height of 1): the buffer of a row without a division.
    uint64_t heightReciprocal = 0;

    // The conversion: Shift16bit, UseLUT and the table attached to the ring.
    int shift = 0;
    bool useLut = false;
    const uint16_t *lut = nullptr;

    // What ReadPlain checks, worked out when the plan is made: the rows the camera announces, and the
    // columns a row read may end before when the ring is an allocated 8-bit monochrome one read
    // without conversion (the smaller of the announced and the ring's widths), else 0.
    long long rows = 0;
    unsigned plainColumns = 0;

    // The imaging library's copy calls, taken from its table when the plan is made.
    void(KC_MILAPI *get2d)(MilId, MilInt, MilInt, MilInt, MilInt, void *) = nullptr;
    void(KC_MILAPI *getColor2d)(MilId, MilInt, MilInt, MilInt, MilInt, MilInt, MilInt, void *) = nullptr;

    // The plan of this moment. The caller holds the camera's row lock.
    static RowPlan Make(const CameraSettings &settings, const MilGrabBuffers &ring, bool stable);
    bool SameAs(const RowPlan &other) const;

    long long RowCount() const { return rows; }
    // Bytes of staging a row of this ring needs (16-bit rings only).
    std::size_t StagingBytes() const {
        return pixelSize == 16 && sizeBand == 1 && bufWidth > 0 ? static_cast<std::size_t>(bufWidth) * 2 : 0;
    }

    // Buffer and line of a row of the ring (bufHeight > 0): row / bufHeight and row % bufHeight.
    void Locate(unsigned row, unsigned &ibuf, unsigned &line) const {
#if defined(__SIZEOF_INT128__)
        // Exact for every 32-bit row and height (Lemire, Kaser and Kurz, "Faster remainder by direct
        // computation"), and several times cheaper than the division on every row call.
        ibuf = heightReciprocal == 0
                   ? row
                   : static_cast<unsigned>((static_cast<unsigned __int128>(heightReciprocal) * row) >> 64);
#else
        ibuf = row / static_cast<unsigned>(bufHeight);
#endif
        line = row - ibuf * static_cast<unsigned>(bufHeight);
    }

    // The common case, an 8-bit monochrome row copied as grabbed with nothing to convert: the checks
    // and one call of the imaging library. False, with nothing done or logged, for any other case.
    bool ReadPlain(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix) const {
        // The span's length is below its last column, so inside the image once its end is.
        if (row < 0 || row >= rows || lastPix <= firstPix || lastPix >= plainColumns) return false;
        unsigned ibuf = 0;
        unsigned line = 0;
        Locate(static_cast<unsigned>(row), ibuf, line);
        if (ibuf >= static_cast<unsigned>(bufCount)) return false;
        get2d(ids[ibuf], static_cast<MilInt>(firstPix), static_cast<MilInt>(line),
              static_cast<MilInt>(lastPix - firstPix + 1), 1, dst);
        return true;
    }

    // The camera's checks of row and columns, then the copy out of the ring and the conversion, each
    // refusal logged with its own line. staging holds StagingBytes(), or is null when none are needed.
    // checked turns true once the camera's checks of row and columns have passed, whatever follows.
    bool Read(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix, uint16_t *staging,
              bool &checked) const {
        if (ReadPlain(dst, row, firstPix, lastPix)) {
            checked = true;
            return true;
        }
        return ReadChecked(dst, row, firstPix, lastPix, staging, checked);
    }

private:
    // Every case, one check after the other with its message.
    bool ReadChecked(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix, uint16_t *staging,
                     bool &checked) const;
};

} // namespace kestcam

// image_buffer.h - one image on the heap, addressed by line: the frame the sharing server assembles
// from the camera's rows before it copies it into the shared segment.
#pragma once

#include <cstdint>
#include <memory>

namespace kestcam {

class ImageBuffer {
public:
    ImageBuffer() = default;
    ImageBuffer(const ImageBuffer &) = delete;
    ImageBuffer &operator=(const ImageBuffer &) = delete;

    // width x height pixels of 3 bytes (colour) or 1. An unchanged byte size keeps the allocation
    // and its contents. A refused size keeps the previous state; a failed allocation leaves the
    // buffer empty (reasons logged).
    bool Allocate(bool colour, int width, int height);
    // The first byte of line index, or null (reason logged).
    uint8_t *GetLine(int index);

    uint8_t *Data() { return data_.get(); }
    const uint8_t *Data() const { return data_.get(); }
    int Size() const { return size_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool IsColour() const { return colour_; }

private:
    int BytesPerPixel() const { return colour_ ? 3 : 1; }

    int size_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool colour_ = false;
    std::unique_ptr<uint8_t[]> data_;
};

} // namespace kestcam

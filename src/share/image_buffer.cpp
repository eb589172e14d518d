// image_buffer.cpp - allocation that keeps an unchanged size, and bounds-checked line access.
#include "share/image_buffer.h"

#include <climits>
#include <new>

#include "driver/logger.h"

namespace kestcam {

bool ImageBuffer::Allocate(bool colour, int width, int height) {
    // Reckoned in 64 bits: a product past the int range is refused, not wrapped into a small buffer.
    const long long size = static_cast<long long>(width) * height * (colour ? 3 : 1);
    if (size <= 0 || size > INT_MAX || width <= 0 || height <= 0) {
        KC_LOG(1, "ImageBuffer::Allocate: ERROR: incorrect size %lld\n", size);
        return false;
    }
    if (size != size_) {
        data_.reset();
        size_ = static_cast<int>(size);
        data_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    }
    if (!data_) {
        size_ = 0;
        KC_LOG(1, "ImageBuffer::Allocate: ERROR: could not allocate buffer of required size %lld\n", size);
        return false;
    }
    width_ = width;
    height_ = height;
    colour_ = colour;
    return true;
}

uint8_t *ImageBuffer::GetLine(int index) {
    if (index < 0 || index >= height_) {
        KC_LOG(1, "ImageBuffer::GetLine: ERROR: line index out of range: %d", index);
        return nullptr;
    }
    if (!data_) {
        KC_LOG(1, "ImageBuffer::GetLine: ERROR: cannot proceed since it finds unallocated buffer\n");
        return nullptr;
    }
    return data_.get() + static_cast<size_t>(index) * static_cast<size_t>(width_) * BytesPerPixel();
}

} // namespace kestcam

// jpeg_encoder.cpp - libturbojpeg's compressor, one handle per call (a frame is encoded once).
#include "view/jpeg_encoder.h"

#include <turbojpeg.h>

namespace kestcam::cli {

namespace {

class Compressor {
public:
    Compressor() : handle_(tjInitCompress()) {}
    ~Compressor() {
        if (handle_ != nullptr) tjDestroy(handle_);
    }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;
    tjhandle Get() const { return handle_; }

private:
    tjhandle handle_;
};

} // namespace

std::string EncodeJpeg(const uint8_t *pixels, int width, int height, int channels, int quality) {
    if (pixels == nullptr || width <= 0 || height <= 0 || (channels != 1 && channels != 3)) return {};
    Compressor compressor;
    if (compressor.Get() == nullptr) return {};
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int format = channels == 3 ? TJPF_BGR : TJPF_GRAY;
    const int subsampling = channels == 3 ? TJSAMP_420 : TJSAMP_GRAY;
    const int status = tjCompress2(compressor.Get(), pixels, width, width * channels, height, format, &out, &size,
                                   subsampling, quality, TJFLAG_FASTDCT);
    std::string jpeg;
    if (status == 0 && out != nullptr) jpeg.assign(reinterpret_cast<const char *>(out), size);
    tjFree(out);
    return jpeg;
}

} // namespace kestcam::cli

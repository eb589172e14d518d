// image_writer.cpp - PNG through libpng, PGM/PPM by hand; colour rows are turned from BGR into RGB.
#include "image_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#if defined(KESTCAM_HAVE_PNG)
#include <png.h>
#endif

namespace kestcam::cli {

namespace {

std::string Extension(const std::string &file) {
    size_t dot = file.rfind('.');
    if (dot == std::string::npos) return "";
    std::string ext = file.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

// One row in the byte order the file formats want (RGB for colour).
void RowForFile(const Image &image, int y, std::vector<uint8_t> &row) {
    const size_t stride = static_cast<size_t>(image.width) * image.channels;
    const uint8_t *src = image.pixels.data() + stride * y;
    row.assign(src, src + stride);
    if (image.channels == 3)
        for (size_t i = 0; i + 2 < stride; i += 3) std::swap(row[i], row[i + 2]);
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

bool WritePnm(const std::string &file, const Image &image, std::string &error) {
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
    if (!out) {
        error = "cannot write " + file;
        return false;
    }
    std::fprintf(out.get(), "P%d\n%d %d\n255\n", image.channels == 3 ? 6 : 5, image.width, image.height);
    std::vector<uint8_t> row;
    for (int y = 0; y < image.height; ++y) {
        RowForFile(image, y, row);
        if (std::fwrite(row.data(), 1, row.size(), out.get()) != row.size()) {
            error = "write error on " + file;
            return false;
        }
    }
    return true;
}

#if defined(KESTCAM_HAVE_PNG)
bool WritePng(const std::string &file, const Image &image, std::string &error) {
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(file.c_str(), "wb"));
    if (!out) {
        error = "cannot write " + file;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not start";
        return false;
    }
    std::vector<uint8_t> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng failed writing " + file;
        return false;
    }
    png_init_io(png, out.get());
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 image.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        RowForFile(image, y, row);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
#endif

} // namespace

bool PngAvailable() {
#if defined(KESTCAM_HAVE_PNG)
    return true;
#else
    return false;
#endif
}

bool WriteImage(const std::string &file, const Image &image, std::string &error) {
    const std::string ext = Extension(file);
    if (ext == "pgm" || ext == "ppm") return WritePnm(file, image, error);
    if (ext == "png") {
#if defined(KESTCAM_HAVE_PNG)
        return WritePng(file, image, error);
#else
        error = "this build has no PNG support; use .pgm or .ppm";
        return false;
#endif
    }
    error = "unknown image format '" + ext + "' (use .png, .pgm or .ppm)";
    return false;
}

} // namespace kestcam::cli

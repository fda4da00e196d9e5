// PNG through libpng's simplified API, TIFF through libtiff.
#include "clipboard_image.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace corvane::capture {

namespace {

constexpr uint64_t kMaxEdge = 8192;
constexpr uint64_t kMaxPixels = 16777216;

uint8_t overWhite(uint32_t colour, uint32_t alpha) {
    return static_cast<uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// A TIFF read from memory: libtiff's client I/O over one buffer.
struct MemoryFile {
    const uint8_t* data;
    toff_t size;
    toff_t offset;
};

tmsize_t memRead(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (n < 0 || f->offset >= f->size)
        return 0;
    const toff_t left = f->size - f->offset;
    const toff_t count = static_cast<toff_t>(n) < left ? static_cast<toff_t>(n) : left;
    std::memcpy(buffer, f->data + f->offset, count);
    f->offset += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t memWrite(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t memSeek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = whence == SEEK_CUR ? f->offset : whence == SEEK_END ? f->size : 0;
    if (offset > UINT64_MAX - base)
        return static_cast<toff_t>(-1);
    f->offset = base + offset;
    return f->offset;
}
int memClose(thandle_t) {
    return 0;
}
toff_t memSize(thandle_t h) {
    return static_cast<MemoryFile*>(h)->size;
}
int memMap(thandle_t, void**, toff_t*) {
    return 0;
}
void memUnmap(thandle_t, void*, toff_t) {}

int quietTiff(TIFF*, void*, const char*, const char*, va_list) {
    return 1; // handled: a picture that does not decode is simply not offered
}

} // namespace

bool pictureSizeAllowed(uint64_t width, uint64_t height) {
    return width >= 1 && width <= kMaxEdge && height >= 1 && height <= kMaxEdge &&
           width * height <= kMaxPixels;
}

std::optional<Picture> decodePng(const uint8_t* data, size_t size) {
    if (!data || size == 0)
        return std::nullopt;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size))
        return std::nullopt;
    if (!pictureSizeAllowed(image.width, image.height)) {
        png_image_free(&image);
        return std::nullopt;
    }
    // Eight-bit output keeps straight alpha.
    image.format = PNG_FORMAT_BGRA;
    Picture p;
    p.width = image.width;
    p.height = image.height;
    p.bgra.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.bgra.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    for (size_t i = 0; i < p.bgra.size(); i += 4) {
        const uint32_t a = p.bgra[i + 3];
        for (size_t c = 0; c < 3; ++c)
            p.bgra[i + c] = overWhite(p.bgra[i + c], a);
        p.bgra[i + 3] = 255;
    }
    return p;
}

std::optional<Picture> decodeTiff(const uint8_t* data, size_t size) {
    if (!data || size == 0)
        return std::nullopt;
    MemoryFile file{data, static_cast<toff_t>(size), 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return std::nullopt;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietTiff, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxPixels) * 4 + 4096);
    TIFF* tif = TIFFClientOpenExt("pasteboard", "rm", &file, memRead, memWrite, memSeek, memClose,
                                  memSize, memMap, memUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return std::nullopt;
    uint32_t width = 0, height = 0;
    std::optional<Picture> result;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) == 1 && pictureSizeAllowed(width, height)) {
        std::vector<uint32_t> raster(size_t(width) * height);
        if (TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            Picture p;
            p.width = width;
            p.height = height;
            p.bgra.resize(raster.size() * 4);
            for (size_t i = 0; i < raster.size(); ++i) {
                // libtiff hands out premultiplied colours: add the white
                // that shines through.
                const uint32_t v = raster[i];
                const uint32_t a = TIFFGetA(v);
                p.bgra[i * 4 + 0] =
                    static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetB(v) + 255 - a));
                p.bgra[i * 4 + 1] =
                    static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetG(v) + 255 - a));
                p.bgra[i * 4 + 2] =
                    static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetR(v) + 255 - a));
                p.bgra[i * 4 + 3] = 255;
            }
            result = std::move(p);
        }
    }
    TIFFClose(tif);
    return result;
}

std::optional<std::vector<uint8_t>> encodePng(const uint8_t* bgra, uint32_t width,
                                              uint32_t height) {
    if (!bgra || !pictureSizeAllowed(width, height))
        return std::nullopt;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;
    // One pass into a buffer of the largest size the picture can take.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, bgra, 0, nullptr))
        return std::nullopt;
    out.resize(size);
    return out;
}

} // namespace corvane::capture

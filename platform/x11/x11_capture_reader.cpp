#include "x11_capture_reader.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include <X11/Xutil.h>

namespace corvane::platform::x11 {

namespace {

// Frames are B, G, R, X bytes: the screen must use 32-bit pixels with red in
// bits 16-23, green in 8-15 and blue in 0-7.
bool bgrxVisual(Display* display, Visual* visual, int depth) {
    if (depth != 24 && depth != 32)
        return false;
    if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff)
        return false;
    return ImageByteOrder(display) == LSBFirst;
}

} // namespace

ShmReader::~ShmReader() {
    if (attached_ && display_)
        XShmDetach(display_, &info_);
    if (image_) {
        image_->data = nullptr; // the segment is not Xlib's to free
        XDestroyImage(image_);
    }
    if (info_.shmaddr && info_.shmaddr != reinterpret_cast<char*>(-1))
        shmdt(info_.shmaddr);
}

bool ShmReader::open(Display* display, const Rect& region, std::string& error) {
    display_ = display;
    region_ = region;
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    if (!XShmQueryExtension(display)) {
        error = "the X server has no MIT-SHM extension";
        return false;
    }
    if (!bgrxVisual(display, visual, depth)) {
        error = "the X screen's pixel format is not 32-bit BGRX";
        return false;
    }
    image_ = XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &info_, region.width,
                             region.height);
    if (!image_ || image_->bits_per_pixel != 32) {
        error = "no shared-memory image of the screen's format";
        return false;
    }
    stride_ = static_cast<intptr_t>(region.width) * 4;
    const size_t half = static_cast<size_t>(stride_) * region.height;
    info_.shmid = shmget(IPC_PRIVATE, half * 2, IPC_CREAT | 0600);
    if (info_.shmid < 0) {
        error = "no shared memory segment for the frame";
        return false;
    }
    info_.shmaddr = static_cast<char*>(shmat(info_.shmid, nullptr, 0));
    info_.readOnly = False;
    const bool mapped = info_.shmaddr != reinterpret_cast<char*>(-1);
    attached_ = mapped && XShmAttach(display, &info_);
    XSync(display, False);
    // Removed now, the segment goes away with its last user.
    shmctl(info_.shmid, IPC_RMID, nullptr);
    if (!attached_) {
        error = "the X server could not attach the shared memory";
        return false;
    }
    mirror_ = reinterpret_cast<uint8_t*>(info_.shmaddr);
    staging_ = mirror_ + half;
    std::memset(mirror_, 0, half);
    return true;
}

bool ShmReader::readInto(uint8_t* target, int32_t screenX, int32_t screenY, int32_t width,
                         int32_t height) {
    image_->data = reinterpret_cast<char*>(target);
    image_->width = width;
    image_->height = height;
    image_->bytes_per_line = width * 4;
    return XShmGetImage(display_, DefaultRootWindow(display_), image_, screenX, screenY,
                        AllPlanes) != 0;
}

bool ShmReader::read(const Rect& area) {
    if (area.width <= 0 || area.height <= 0)
        return true;
    uint8_t* band = mirror_ + static_cast<intptr_t>(area.y) * stride_;
    // Wide areas are read as whole rows straight into the mirror; narrow ones
    // through the staging area, then copied row by row.
    if (area.width * 2 >= region_.width)
        return readInto(band, region_.x, region_.y + area.y, region_.width, area.height);
    if (!readInto(staging_, region_.x + area.x, region_.y + area.y, area.width, area.height))
        return false;
    const size_t rowBytes = static_cast<size_t>(area.width) * 4;
    for (int32_t row = 0; row < area.height; ++row)
        std::memcpy(band + row * stride_ + area.x * 4, staging_ + row * rowBytes, rowBytes);
    return true;
}

} // namespace corvane::platform::x11

#include "gnome_pipewire.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

#include "gnome_damage.h"
#include "gnome_frame_diff.h"
#include "gnome_settle.h"

namespace corvane::platform::gnome {

namespace {

constexpr int32_t kMaxCursor = 384;
constexpr size_t kMaxDamageRegions = 16;

constexpr int32_t cursorMetaSize(int32_t w, int32_t h) {
    return int32_t(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

void initPipewireOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

timespec timespecOf(std::chrono::nanoseconds d) {
    return {time_t(d.count() / 1000000000), long(d.count() % 1000000000)};
}

// Where the pointer is, as one number: its place, not its shape, which a
// window that opened under it changes without the pointer moving.
uint64_t placeOf(int32_t x, int32_t y) {
    return uint64_t(uint32_t(x)) << 32 | uint32_t(y);
}

} // namespace

std::optional<GnomeCursorPixelOrder> gnomeCursorOrder(uint32_t spaVideoFormat) {
    switch (spaVideoFormat) {
    case SPA_VIDEO_FORMAT_RGBA:
        return GnomeCursorPixelOrder::RGBA;
    case SPA_VIDEO_FORMAT_BGRA:
        return GnomeCursorPixelOrder::BGRA;
    case SPA_VIDEO_FORMAT_ARGB:
        return GnomeCursorPixelOrder::ARGB;
    case SPA_VIDEO_FORMAT_ABGR:
        return GnomeCursorPixelOrder::ABGR;
    default:
        return std::nullopt;
    }
}

struct GnomeFrameSource::Impl {
    GnomeFrameSource* owner = nullptr;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook streamListener{};
    spa_hook coreListener{};
    spa_source* overdueTimer = nullptr;
    int overdueAttempts = 0; // on the loop thread
    spa_source* settleTimer = nullptr;
    GnomeSettleWatch settle; // on the loop thread
    bool streaming = false;  // on the loop thread
    int32_t formatWidth = 0;
    int32_t formatHeight = 0;

    mutable std::mutex pictureMutex; // guards the mirror
    std::vector<uint8_t> mirror;
    int32_t width = 0;
    int32_t height = 0;
    GnomeDamagePlacer damagePlacer;

    mutable std::mutex cursorMutex;
    GnomeCursorState cursor;
    GnomeCursorSerial cursorSerial;

    std::mutex listenerMutex;
    std::map<uint64_t, GnomeFrameListener> listeners;
    uint64_t nextListener = 1;

    std::vector<GnomeFrameListener> listenersNow() {
        std::lock_guard lock(listenerMutex);
        std::vector<GnomeFrameListener> all;
        for (auto& [id, l] : listeners)
            all.push_back(l);
        return all;
    }

    void stopped(const std::string& reason) {
        owner->running_.store(false);
        for (auto& l : listenersNow())
            if (l.stopped)
                l.stopped(reason);
    }

    void formatChanged(const spa_pod* param);
    void armOverdue(bool on);
    void pictureOverdue();
    void changesCompared(const std::vector<Rect>& changed);
    void settleCheck();
    uint64_t pointerPlace() const;
    void readCursor(spa_buffer* buffer);
    static std::optional<CursorImage> cursorShape(const spa_meta& region,
                                                  const spa_meta_cursor& meta);
    bool usablePicture(spa_buffer* buffer);
    bool readDamage(spa_buffer* buffer, std::vector<Rect>& out) const;
    void process();
};

namespace {

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* impl = static_cast<GnomeFrameSource::Impl*>(data);
    if (state == PW_STREAM_STATE_STREAMING)
        impl->streaming = true;
    if (state == PW_STREAM_STATE_ERROR)
        impl->stopped(std::string("the PipeWire stream failed: ") + (error ? error : "?"));
    else if (state == PW_STREAM_STATE_UNCONNECTED && impl->streaming)
        impl->stopped("the compositor ended the PipeWire stream");
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    if (param && id == SPA_PARAM_Format)
        static_cast<GnomeFrameSource::Impl*>(data)->formatChanged(param);
}

void onOverdueTimer(void* data, uint64_t) {
    static_cast<GnomeFrameSource::Impl*>(data)->pictureOverdue();
}

void onSettleTimer(void* data, uint64_t) {
    static_cast<GnomeFrameSource::Impl*>(data)->settleCheck();
}

// Shared-memory buffers are mapped here, once per buffer, on every PipeWire
// version alike; the mapping goes with the buffer.
void onAddBuffer(void*, pw_buffer* buffer) {
    spa_data& d = buffer->buffer->datas[0];
    if (d.type != SPA_DATA_MemFd || d.fd < 0)
        return;
    void* base = mmap(nullptr, d.maxsize + d.mapoffset, PROT_READ, MAP_SHARED, int(d.fd), 0);
    buffer->user_data = base == MAP_FAILED ? nullptr : base;
}

void onRemoveBuffer(void*, pw_buffer* buffer) {
    spa_data& d = buffer->buffer->datas[0];
    if (buffer->user_data)
        munmap(buffer->user_data, d.maxsize + d.mapoffset);
    buffer->user_data = nullptr;
}

void onProcess(void* data) {
    static_cast<GnomeFrameSource::Impl*>(data)->process();
}

void onCoreError(void* data, uint32_t id, int, int res, const char* message) {
    if (id == PW_ID_CORE)
        static_cast<GnomeFrameSource::Impl*>(data)->stopped(
            std::string("PipeWire went away: ") + (message ? message : spa_strerror(res)));
}

const pw_stream_events kStreamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onStateChanged;
    e.param_changed = onParamChanged;
    e.add_buffer = onAddBuffer;
    e.remove_buffer = onRemoveBuffer;
    e.process = onProcess;
    return e;
}();

const pw_core_events kCoreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = onCoreError;
    return e;
}();

} // namespace

// Watches for the picture of the agreed size (loop thread).
void GnomeFrameSource::Impl::armOverdue(bool on) {
    if (!overdueTimer)
        return;
    overdueAttempts = 0;
    timespec every = timespecOf(kGnomePictureOverdue);
    timespec off{0, 0};
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), overdueTimer, on ? &every : &off,
                         on ? &every : &off, false);
}

void GnomeFrameSource::Impl::pictureOverdue() {
    const bool arrived = width == formatWidth && height == formatHeight;
    if (arrived || overdueAttempts >= kGnomeOverdueAttempts) {
        armOverdue(false);
        return;
    }
    const int attempt = overdueAttempts++;
    for (auto& l : listenersNow())
        if (l.overdue)
            l.overdue(attempt, formatWidth, formatHeight);
}

// A picture was compared with the one before (loop thread): a change
// starts or goes on with a run, and the run is looked at again once quiet.
void GnomeFrameSource::Impl::changesCompared(const std::vector<Rect>& changed) {
    if (changed.empty() || !settleTimer)
        return;
    int64_t area = 0;
    for (const Rect& r : changed)
        area += int64_t(r.width) * r.height;
    settle.changed(std::chrono::steady_clock::now(), pointerPlace(),
                   area * 4 >= int64_t(width) * height);
    timespec once = timespecOf(kGnomeSettleQuiet);
    timespec never{0, 0};
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), settleTimer, &once, &never, false);
}

uint64_t GnomeFrameSource::Impl::pointerPlace() const {
    std::lock_guard lock(cursorMutex);
    return placeOf(cursor.x, cursor.y);
}

void GnomeFrameSource::Impl::settleCheck() {
    int32_t x = 0, y = 0;
    bool visible = false;
    {
        std::lock_guard lock(cursorMutex);
        visible = cursor.known && cursor.visible;
        x = cursor.x;
        y = cursor.y;
    }
    if (!settle.due(std::chrono::steady_clock::now(), placeOf(x, y)) || !visible)
        return;
    for (auto& l : listenersNow())
        if (l.settled)
            l.settled(x, y, width);
}

void GnomeFrameSource::Impl::formatChanged(const spa_pod* param) {
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return;
    formatWidth = int32_t(info.size.width);
    formatHeight = int32_t(info.size.height);
    const int32_t stride = formatWidth * 4;
    uint8_t storage[1024];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    const spa_pod* params[4];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_blocks,
        SPA_POD_Int(1), SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * formatHeight),
        SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(int32_t(sizeof(spa_meta_header)))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(kMaxCursor, kMaxCursor), cursorMetaSize(1, 1),
                                 cursorMetaSize(kMaxCursor, kMaxCursor))));
    // Compositors without damage metadata (mutter 43) leave this one out.
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoDamage), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(int32_t(sizeof(spa_meta_region) * kMaxDamageRegions),
                                 int32_t(sizeof(spa_meta_region)),
                                 int32_t(sizeof(spa_meta_region) * kMaxDamageRegions))));
    pw_stream_update_params(stream, params, 4);
    armOverdue(width != formatWidth || height != formatHeight);
    for (auto& l : listenersNow())
        if (l.negotiated)
            l.negotiated(formatWidth, formatHeight);
}

// The new shape carried by cursor metadata, if it carries a usable one.
std::optional<CursorImage> GnomeFrameSource::Impl::cursorShape(const spa_meta& region,
                                                               const spa_meta_cursor& meta) {
    if (meta.bitmap_offset < sizeof(spa_meta_cursor) ||
        meta.bitmap_offset + sizeof(spa_meta_bitmap) > region.size)
        return std::nullopt;
    const auto* bitmap = SPA_PTROFF(&meta, meta.bitmap_offset, const spa_meta_bitmap);
    const auto order = gnomeCursorOrder(bitmap->format);
    const size_t start = size_t(meta.bitmap_offset) + bitmap->offset;
    if (!order || bitmap->size.width == 0 || start > region.size)
        return std::nullopt;
    GnomeCursorBitmap b;
    b.order = *order;
    b.premultiplied = true; // mutter reads the sprite premultiplied
    b.width = int32_t(bitmap->size.width);
    b.height = int32_t(bitmap->size.height);
    b.stride = bitmap->stride;
    b.hotX = meta.hotspot.x;
    b.hotY = meta.hotspot.y;
    b.pixels = SPA_PTROFF(bitmap, bitmap->offset, const uint8_t);
    b.size = region.size - start;
    return gnomeCursorImage(b);
}

void GnomeFrameSource::Impl::readCursor(spa_buffer* buffer) {
    const spa_meta* region = spa_buffer_find_meta(buffer, SPA_META_Cursor);
    if (!region || region->size < sizeof(spa_meta_cursor))
        return;
    const auto& meta = *static_cast<const spa_meta_cursor*>(region->data);
    const bool visible = spa_meta_cursor_is_valid(&meta);
    std::optional<CursorImage> shape = visible ? cursorShape(*region, meta) : std::nullopt;
    // A bitmap of no size: the pointer is there but has no sprite to show
    // (mutter without a cursor set, as headless with no client).
    const bool noSprite =
        visible && meta.bitmap_offset >= sizeof(spa_meta_cursor) &&
        meta.bitmap_offset + sizeof(spa_meta_bitmap) <= region->size &&
        SPA_PTROFF(&meta, meta.bitmap_offset, const spa_meta_bitmap)->size.width == 0;
    bool changed = false;
    {
        std::lock_guard lock(cursorMutex);
        cursor.known = true;
        if (visible != cursor.visible || meta.position.x != cursor.x ||
            meta.position.y != cursor.y) {
            cursor.visible = visible;
            cursor.x = meta.position.x;
            cursor.y = meta.position.y;
            changed = true;
        }
        if (shape && !shape->representations.empty()) {
            auto& picture = shape->representations.front();
            cursor.width = picture.pixelWidth;
            cursor.height = picture.pixelHeight;
            cursor.hotX = int32_t(shape->hotX);
            cursor.hotY = int32_t(shape->hotY);
            cursor.seed = cursorSerial.note(*shape);
            cursor.bgra = std::move(picture.bgra);
            changed = true;
        } else if (!visible || noSprite) {
            changed = changed || !cursor.bgra.empty();
            cursor.bgra.clear();
            cursor.width = cursor.height = 0;
            cursor.seed = cursorSerial.noteHidden();
        }
        if (changed)
            ++cursor.moveSerial;
    }
    if (changed)
        for (auto& l : listenersNow())
            if (l.cursorChanged)
                l.cursorChanged();
}

// Whether the newest buffer carries a picture to use: not flagged corrupted,
// and not a cursor-only update (an empty chunk).
bool GnomeFrameSource::Impl::usablePicture(spa_buffer* buffer) {
    auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))
        return false;
    const spa_data& d = buffer->datas[0];
    return d.chunk && d.chunk->size > 0 && !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
}

// Adds a picture's damage as the compositor wrote it; false when it carries
// no damage metadata.
bool GnomeFrameSource::Impl::readDamage(spa_buffer* buffer, std::vector<Rect>& out) const {
    const spa_meta* damage = spa_buffer_find_meta(buffer, SPA_META_VideoDamage);
    if (!damage)
        return false;
    spa_meta_region* region = nullptr;
    spa_meta_for_each(region, damage) {
        if (!spa_meta_region_is_valid(region))
            break;
        const auto& r = region->region;
        if (r.size.width > 0 && r.size.height > 0)
            out.push_back({r.position.x, r.position.y, int32_t(std::min(r.size.width, 1u << 16)),
                           int32_t(std::min(r.size.height, 1u << 16))});
    }
    return true;
}

void GnomeFrameSource::Impl::process() {
    pw_buffer* newest = nullptr;
    pw_buffer* next = nullptr;
    std::vector<Rect> changed;
    // Cursor metadata counts from every buffer waiting; the picture from the
    // newest that carries one: mutter also sends buffers without a picture
    // (cursor-only, flagged corrupted), and one of those coming last must
    // not hide the picture before it.
    // The damage of every picture taken together, when each carried some.
    std::vector<Rect> damage;
    bool damageKnown = true;
    while ((next = pw_stream_dequeue_buffer(stream))) {
        readCursor(next->buffer);
        if (!usablePicture(next->buffer)) {
            pw_stream_queue_buffer(stream, next);
            continue;
        }
        damageKnown = damageKnown && readDamage(next->buffer, damage);
        if (newest)
            pw_stream_queue_buffer(stream, newest);
        newest = next;
    }
    if (!newest)
        return;
    spa_buffer* buffer = newest->buffer;
    const spa_data& d = buffer->datas[0];
    const uint8_t* pixels = nullptr;
    if (d.type == SPA_DATA_MemFd && newest->user_data)
        pixels = static_cast<const uint8_t*>(newest->user_data) + d.mapoffset;
    else if (d.type == SPA_DATA_MemPtr)
        pixels = static_cast<const uint8_t*>(d.data);
    if (pixels && formatWidth > 0 && formatHeight > 0) {
        pixels += d.chunk->offset;
        const intptr_t stride = d.chunk->stride > 0 ? d.chunk->stride : intptr_t(formatWidth) * 4;
        std::lock_guard lock(pictureMutex);
        const bool resized = width != formatWidth || height != formatHeight;
        if (resized)
            damagePlacer.reset();
        std::optional<std::vector<Rect>> placed;
        if (damageKnown)
            placed = damagePlacer.place(damage, formatWidth, formatHeight);
        if (resized) {
            width = formatWidth;
            height = formatHeight;
            armOverdue(false);
            mirror.assign(size_t(width) * height * 4, 0);
            changed.push_back({0, 0, width, height});
        } else if (placed) {
            owner->damaged_.fetch_add(1);
            changed = std::move(*placed);
        } else {
            owner->compared_.fetch_add(1);
            changed = gnomeChangedRects(mirror.data(), intptr_t(width) * 4, pixels, stride, width,
                                        height);
            // The repaint after a run of changes is for mutter 43, which
            // sends no damage; mutter 48 follows up a frame it had to skip.
            if (!damageKnown)
                changesCompared(changed);
        }
        for (const Rect& r : changed)
            for (int32_t y = r.y; y < r.y + r.height; ++y)
                std::memcpy(mirror.data() + (size_t(y) * width + r.x) * 4,
                            pixels + y * stride + intptr_t(r.x) * 4, size_t(r.width) * 4);
    }
    pw_stream_queue_buffer(stream, newest);
    if (!changed.empty())
        for (auto& l : listenersNow())
            if (l.changed)
                l.changed(changed);
}

GnomeFrameSource::GnomeFrameSource() : impl_(std::make_unique<Impl>()) {
    impl_->owner = this;
}

GnomeFrameSource::~GnomeFrameSource() {
    stop();
}

namespace {

// BGRx or BGRA; at one fixed size when asked (a virtual monitor), with the
// frame rate left to the compositor up to 60.
const spa_pod* enumFormat(spa_pod_builder& b, std::optional<GnomeVideoSize> size) {
    spa_pod_frame f{};
    spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                        SPA_FORMAT_VIDEO_format,
                        SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                               SPA_VIDEO_FORMAT_BGRA),
                        0);
    if (size) {
        const spa_rectangle rect = SPA_RECTANGLE(uint32_t(size->width), uint32_t(size->height));
        const spa_fraction none = SPA_FRACTION(0, 1);
        const spa_fraction max = SPA_FRACTION(60, 1);
        const spa_fraction min = SPA_FRACTION(1, 1);
        spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&rect),
                            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&none),
                            SPA_FORMAT_VIDEO_maxFramerate,
                            SPA_POD_CHOICE_RANGE_Fraction(&max, &min, &max), 0);
    }
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &f));
}

} // namespace

bool GnomeFrameSource::start(uint32_t nodeId, std::string& error,
                             std::optional<GnomeVideoSize> size) {
    stop();
    initPipewireOnce();
    Impl& p = *impl_;
    p.loop = pw_thread_loop_new("corvane-pw", nullptr);
    if (!p.loop || pw_thread_loop_start(p.loop) < 0) {
        error = "no PipeWire loop";
        stop();
        return false;
    }
    pw_thread_loop_lock(p.loop);
    p.context = pw_context_new(pw_thread_loop_get_loop(p.loop), nullptr, 0);
    p.core = p.context ? pw_context_connect(p.context, nullptr, 0) : nullptr;
    if (!p.core) {
        pw_thread_loop_unlock(p.loop);
        error = "PipeWire cannot be reached";
        stop();
        return false;
    }
    pw_core_add_listener(p.core, &p.coreListener, &kCoreEvents, &p);
    p.overdueTimer = pw_loop_add_timer(pw_thread_loop_get_loop(p.loop), onOverdueTimer, &p);
    p.settleTimer = pw_loop_add_timer(pw_thread_loop_get_loop(p.loop), onSettleTimer, &p);
    p.stream = pw_stream_new(p.core, "corvane-capture",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                               "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    pw_stream_add_listener(p.stream, &p.streamListener, &kStreamEvents, &p);
    uint8_t storage[512];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    const spa_pod* params[1] = {enumFormat(b, size)};
    const int r = pw_stream_connect(p.stream, PW_DIRECTION_INPUT, nodeId,
                                    pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT), params, 1);
    pw_thread_loop_unlock(p.loop);
    if (r < 0) {
        error = std::string("the PipeWire stream cannot connect: ") + spa_strerror(r);
        stop();
        return false;
    }
    running_.store(true);
    return true;
}

bool GnomeFrameSource::resize(GnomeVideoSize size) {
    Impl& p = *impl_;
    if (!p.loop || !running_.load())
        return false;
    pw_thread_loop_lock(p.loop);
    uint8_t storage[512];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    const spa_pod* params[1] = {enumFormat(b, size)};
    const int r = p.stream ? pw_stream_update_params(p.stream, params, 1) : -1;
    pw_thread_loop_unlock(p.loop);
    return r >= 0;
}

void GnomeFrameSource::stop() {
    Impl& p = *impl_;
    running_.store(false);
    if (!p.loop)
        return;
    pw_thread_loop_lock(p.loop);
    if (p.stream) {
        spa_hook_remove(&p.streamListener);
        pw_stream_disconnect(p.stream);
        pw_stream_destroy(p.stream);
        p.stream = nullptr;
    }
    for (spa_source** timer : {&p.overdueTimer, &p.settleTimer})
        if (*timer) {
            pw_loop_destroy_source(pw_thread_loop_get_loop(p.loop), *timer);
            *timer = nullptr;
        }
    p.settle = {};
    if (p.core) {
        spa_hook_remove(&p.coreListener);
        pw_core_disconnect(p.core);
        p.core = nullptr;
    }
    pw_thread_loop_unlock(p.loop);
    pw_thread_loop_stop(p.loop);
    if (p.context)
        pw_context_destroy(p.context);
    p.context = nullptr;
    pw_thread_loop_destroy(p.loop);
    p.loop = nullptr;
    p.streaming = false;
    p.formatWidth = p.formatHeight = 0;
    std::lock_guard lock(p.pictureMutex);
    p.width = p.height = 0;
    p.mirror.clear();
}

uint64_t GnomeFrameSource::addListener(GnomeFrameListener listener) {
    std::lock_guard lock(impl_->listenerMutex);
    const uint64_t id = impl_->nextListener++;
    impl_->listeners[id] = std::move(listener);
    return id;
}

void GnomeFrameSource::removeListener(uint64_t id) {
    std::lock_guard lock(impl_->listenerMutex);
    impl_->listeners.erase(id);
}

bool GnomeFrameSource::withPicture(
    const std::function<void(const uint8_t*, intptr_t, int32_t, int32_t)>& use) const {
    std::lock_guard lock(impl_->pictureMutex);
    if (impl_->mirror.empty())
        return false;
    use(impl_->mirror.data(), intptr_t(impl_->width) * 4, impl_->width, impl_->height);
    return true;
}

GnomeCursorState GnomeFrameSource::cursor() const {
    std::lock_guard lock(impl_->cursorMutex);
    return impl_->cursor;
}

} // namespace corvane::platform::gnome

#include "gnome_capture.h"

#include "gnome_capture_stream.h"

namespace corvane::platform::gnome {

GnomeCapture::GnomeCapture(GnomeSession& session, GnomeVirtualMonitors& monitors)
    : session_(session), monitors_(monitors) {
    // The consumer belongs to one session's stream: it goes with it.
    endListener_ = session_.addEndListener([this](const std::string&) {
        std::shared_ptr<GnomeFrameSource> old;
        {
            std::lock_guard lock(mutex_);
            old = std::move(source_);
            sourceNode_ = 0;
        }
        if (old)
            old->stop();
    });
}

GnomeCapture::~GnomeCapture() {
    session_.removeEndListener(endListener_);
    std::lock_guard lock(mutex_);
    if (source_)
        source_->stop();
}

void GnomeCapture::shareableContent(ContentReply reply) {
    session_.open([this, reply = std::move(reply)](bool ok, const std::string& error) {
        const auto stream = session_.stream();
        if (!ok || !stream) {
            reply(std::nullopt, ok ? "the GNOME session records no monitor" : error);
            return;
        }
        if (stream->width <= 0 || stream->height <= 0) {
            reply(std::nullopt, "the compositor did not say the recorded monitor's size");
            return;
        }
        ShareableContent content;
        content.displays.push_back({kGnomeMonitorDisplayId, double(stream->x), double(stream->y),
                                    double(stream->width), double(stream->height)});
        for (const GnomeVirtualMonitor& m : monitors_.list())
            content.displays.push_back({m.id, double(m.stream.x), double(m.stream.y),
                                        double(m.stream.width), double(m.stream.height)});
        content.mainDisplayId = kGnomeMonitorDisplayId;
        reply(std::move(content), {});
    });
}

std::unique_ptr<CaptureStream> GnomeCapture::createStream(const CaptureDisplay& display,
                                                          const CaptureSettings& settings,
                                                          CaptureSink& sink, std::string& error) {
    if (settings.width <= 0 || settings.height <= 0 || settings.queueDepth < 1) {
        error = "the frame size or queue depth is not usable";
        return nullptr;
    }
    if (display.id != kGnomeMonitorDisplayId && !monitors_.find(display.id)) {
        error = "display " + std::to_string(display.id) + " is not recorded by the GNOME session";
        return nullptr;
    }
    return std::make_unique<GnomeCaptureStream>(*this, session_, display.id, settings, sink);
}

std::shared_ptr<GnomeFrameSource> GnomeCapture::source(uint32_t displayId, std::string& error) {
    if (displayId != kGnomeMonitorDisplayId) {
        const auto monitor = monitors_.find(displayId);
        if (!monitor)
            error = "virtual monitor " + std::to_string(displayId) + " is gone";
        return monitor ? monitor->source : nullptr;
    }
    const auto stream = session_.stream();
    if (!stream || !stream->nodeId) {
        error = "the GNOME session has no PipeWire stream";
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (source_ && source_->running() && sourceNode_ == stream->nodeId)
        return source_;
    if (source_)
        source_->stop();
    auto next = std::make_shared<GnomeFrameSource>();
    GnomeFrameListener repaint;
    repaint.overdue = [this, path = stream->streamPath](int attempt, int32_t w, int32_t h) {
        session_.pointerOver(path, w, h, attempt);
    };
    repaint.settled = [this, path = stream->streamPath](int32_t x, int32_t y, int32_t w) {
        session_.pointerWiggle(path, x, y, w);
    };
    next->addListener(repaint);
    if (!next->start(stream->nodeId, error))
        return nullptr;
    source_ = next;
    sourceNode_ = stream->nodeId;
    return source_;
}

std::shared_ptr<GnomeFrameSource> GnomeCapture::runningSource() const {
    std::lock_guard lock(mutex_);
    return source_ && source_->running() ? source_ : nullptr;
}

} // namespace corvane::platform::gnome

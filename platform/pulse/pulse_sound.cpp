#include "pulse_sound.h"

#include <ctime>

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

namespace corvane::platform::pulse {

namespace {

// A sound server that neither answers nor refuses gives up the start after
// this long per step, so that whoever starts us can try again later.
constexpr pa_usec_t kAnswerLimit = 3 * PA_USEC_PER_SEC;
// Small fragments keep the delay from the desktop to the client low.
constexpr pa_usec_t kFragment = 10 * PA_USEC_PER_MSEC;

bool typeFor(pa_sample_format_t format, SampleType& out) {
    switch (format) {
    case PA_SAMPLE_U8:
        out = SampleType::U8;
        return true;
    case PA_SAMPLE_S16LE:
        out = SampleType::S16;
        return true;
    case PA_SAMPLE_S24LE:
        out = SampleType::S24;
        return true;
    case PA_SAMPLE_S32LE:
        out = SampleType::S32;
        return true;
    case PA_SAMPLE_FLOAT32LE:
        out = SampleType::F32;
        return true;
    default:
        return false;
    }
}

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class PulseCapture : public SoundCapture {
  public:
    explicit PulseCapture(SoundSink& sink) : sink_(sink) {}
    ~PulseCapture() override { shutdown(); }

    bool open(std::string& error) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) {
            error = "no PulseAudio main loop";
            return false;
        }
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Corvane Server");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_),
                                                "Corvane Server", props);
        pa_proplist_free(props);
        if (!context_) {
            error = "no PulseAudio context";
            return false;
        }
        pa_context_set_state_callback(context_, contextChanged, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            error = "PulseAudio main loop did not start";
            return false;
        }
        started_ = true;
        pa_threaded_mainloop_lock(loop_);
        const bool ok = connectLocked(error);
        pa_threaded_mainloop_unlock(loop_);
        return ok;
    }

  private:
    static void contextChanged(pa_context* context, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            me->end("the sound server went away");
        pa_threaded_mainloop_signal(me->loop_, 0);
    }
    static void streamChanged(pa_stream* stream, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            me->end("the sound server ended the recording");
        pa_threaded_mainloop_signal(me->loop_, 0);
    }
    // The user chose another output (or the server changed it): what we
    // record is no longer what the desktop is heard on. A stream that starts,
    // stops or pauses may change whether anything plays.
    static void serverChanged(pa_context* context, pa_subscription_event_type_t type, uint32_t,
                              void* self) {
        const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
            static_cast<PulseCapture*>(self)->checkPlaying();
            return;
        }
        if (facility != PA_SUBSCRIPTION_EVENT_SERVER)
            return;
        if (pa_operation* op = pa_context_get_server_info(context, defaultChecked, self))
            pa_operation_unref(op);
    }
    static void playingListed(pa_context*, const pa_sink_input_info* info, int last, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (info && info->sink == me->sinkIndex_ && !info->corked)
            me->seenPlaying_ = true;
        if (last)
            me->playingChecked();
    }
    static void defaultChecked(pa_context*, const pa_server_info* info, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (info && info->default_sink_name && me->defaultSink_ != info->default_sink_name)
            me->end(std::string("the default output is now ") + info->default_sink_name);
    }
    static void timeUp(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        me->timedOut_ = true;
        pa_threaded_mainloop_signal(me->loop_, 0);
    }
    static void serverInfo(pa_context*, const pa_server_info* info, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (info && info->default_sink_name)
            me->defaultSink_ = info->default_sink_name;
        me->answered_ = true;
        pa_threaded_mainloop_signal(me->loop_, 0);
    }
    static void sourceInfo(pa_context*, const pa_source_info* info, int last, void* self) {
        auto* me = static_cast<PulseCapture*>(self);
        if (info) {
            me->sourceSpec_ = info->sample_spec;
            me->sinkIndex_ = info->monitor_of_sink;
        }
        if (last)
            me->answered_ = true;
        pa_threaded_mainloop_signal(me->loop_, 0);
    }
    static void readable(pa_stream*, size_t, void* self) {
        static_cast<PulseCapture*>(self)->drain();
    }

    // On the main loop's thread, with its lock held: a running capture that
    // ends on its own tells the sink once and delivers nothing more.
    void end(const std::string& reason) {
        if (!streaming_)
            return;
        streaming_ = false;
        if (stream_)
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
        sink_.soundEnded(reason);
    }

    // Waits with the main loop locked until `done` holds; false when the
    // sound server let the time limit pass.
    template <class Done> bool waitLocked(Done done) {
        timedOut_ = false;
        pa_time_event* limit =
            pa_context_rttime_new(context_, pa_rtclock_now() + kAnswerLimit, timeUp, this);
        while (!done() && !timedOut_)
            pa_threaded_mainloop_wait(loop_);
        if (limit)
            pa_threaded_mainloop_get_api(loop_)->time_free(limit);
        return done();
    }

    bool query(pa_operation* op) {
        if (!op)
            return false;
        const bool ok = waitLocked([&] { return answered_; });
        if (!ok)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return ok;
    }

    bool connectLocked(std::string& error) {
        const bool settled = waitLocked([&] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!settled) {
            error = "the sound server did not answer";
            return false;
        }
        if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        answered_ = false;
        if (!query(pa_context_get_server_info(context_, serverInfo, this)) ||
            defaultSink_.empty()) {
            error = "no default output device";
            return false;
        }
        const std::string monitor = defaultSink_ + ".monitor";
        answered_ = false;
        if (!query(
                pa_context_get_source_info_by_name(context_, monitor.c_str(), sourceInfo, this)) ||
            !pa_sample_spec_valid(&sourceSpec_)) {
            error = "no monitor source " + monitor;
            return false;
        }
        return connectStreamLocked(monitor, error);
    }

    bool connectStreamLocked(const std::string& monitor, std::string& error) {
        // Recorded in the monitor's own format so that the sound server
        // converts nothing; formats we cannot take arrive as float.
        pa_sample_spec spec = sourceSpec_;
        if (!typeFor(spec.format, format_.type)) {
            spec.format = PA_SAMPLE_FLOAT32LE;
            format_.type = SampleType::F32;
        }
        if (spec.channels > kMaxSoundChannels)
            spec.channels = 2;
        format_.sampleRate = static_cast<int32_t>(spec.rate);
        format_.channels = spec.channels;
        format_.interleaved = true;
        stream_ = pa_stream_new(context_, "system sound", &spec, nullptr);
        if (!stream_) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        pa_stream_set_state_callback(stream_, streamChanged, this);
        pa_stream_set_read_callback(stream_, readable, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragment, &spec));
        // Not moved elsewhere when the monitor goes away: the sound server
        // would pick any source, a microphone included. The recording ends
        // instead and is started again on the new default.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream_, monitor.c_str(), &attr, flags) < 0) {
            error = pa_strerror(pa_context_errno(context_));
            return false;
        }
        const bool settled = waitLocked([&] {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!settled || pa_stream_get_state(stream_) != PA_STREAM_READY) {
            error = settled ? pa_strerror(pa_context_errno(context_))
                            : "the sound server did not start the recording";
            return false;
        }
        streaming_ = true;
        pa_context_set_subscribe_callback(context_, serverChanged, this);
        const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                              PA_SUBSCRIPTION_MASK_SINK_INPUT);
        if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr))
            pa_operation_unref(op);
        checkPlaying();
        return true;
    }

    // A monitor delivers silence every few milliseconds while nothing plays;
    // the recording is paused (corked) then, so that an idle desktop costs
    // no wake-ups. One listing at a time, on the main loop's thread with its
    // lock held; a change during a listing asks for another.
    void checkPlaying() {
        if (listing_) {
            listAgain_ = true;
            return;
        }
        seenPlaying_ = false;
        pa_operation* op = pa_context_get_sink_input_info_list(context_, playingListed, this);
        if (!op)
            return;
        listing_ = true;
        pa_operation_unref(op);
    }
    void playingChecked() {
        listing_ = false;
        if (listAgain_) {
            listAgain_ = false;
            checkPlaying();
            return;
        }
        if (stream_ && streaming_ && seenPlaying_ == corked_) {
            corked_ = !seenPlaying_;
            if (pa_operation* op = pa_stream_cork(stream_, corked_ ? 1 : 0, nullptr, nullptr))
                pa_operation_unref(op);
        }
    }

    // On the main loop's thread, with its lock held.
    void drain() {
        const size_t frameBytes = static_cast<size_t>(bytesPerSample(format_.type)) *
                                  static_cast<size_t>(format_.channels);
        while (stream_ && pa_stream_readable_size(stream_) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0)
                return;
            // A hole (data null) is sound lost in the sound server: skipped.
            if (data && frameBytes > 0 && bytes >= frameBytes) {
                SoundBuffer buffer;
                buffer.format = format_;
                buffer.frames = static_cast<int64_t>(bytes / frameBytes);
                buffer.planes[0] = static_cast<const uint8_t*>(data);
                buffer.presentationSeconds =
                    monotonicSeconds() - static_cast<double>(buffer.frames) / format_.sampleRate;
                sink_.soundArrived(buffer);
            }
            pa_stream_drop(stream_);
        }
    }

    void shutdown() {
        if (!loop_)
            return;
        pa_threaded_mainloop_lock(loop_);
        if (stream_) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        if (started_)
            pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    SoundSink& sink_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool started_ = false;
    bool streaming_ = false;
    bool answered_ = false;
    bool timedOut_ = false;
    // Whether anything plays into the recorded output, and the recording's
    // pause that follows it.
    uint32_t sinkIndex_ = PA_INVALID_INDEX;
    bool listing_ = false;
    bool listAgain_ = false;
    bool seenPlaying_ = false;
    bool corked_ = false;
    std::string defaultSink_;
    pa_sample_spec sourceSpec_{};
    SoundFormat format_;
};

} // namespace

std::unique_ptr<SoundCapture> PulseSound::start(SoundSink& sink, std::string& error) {
    auto capture = std::make_unique<PulseCapture>(sink);
    if (!capture->open(error))
        return nullptr;
    return capture;
}

} // namespace corvane::platform::pulse

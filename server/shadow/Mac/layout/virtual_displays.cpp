#include "virtual_displays.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "base/await.h"
#include "base/clock.h"
#include "base/env.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "core/section_lock.h"
#include "layout_request.h"
#include "platform/platform.h"

using corvane::platform::DisplayBounds;
using corvane::platform::DisplayConfig;
using corvane::platform::DisplayModeInfo;
using corvane::platform::DisplaySpace;
using corvane::platform::HiDpiScope;

namespace {

constexpr int kRounds = 3;
constexpr uint32_t kRoundSettleMs = 500;
constexpr int kModeReads = 15;
constexpr uint32_t kModeReadPauseMs = 100;
constexpr uint32_t kRecreatePauseMs = 300;
constexpr uint32_t kOldDisplaysGraceMs = 1000;
constexpr int kWatchChecks = 20;
constexpr uint32_t kWatchPauseMs = 200;
constexpr int kWatchPassesNeeded = 6;
constexpr int kMaxRepairs = 3;
constexpr int kUnmirrorChecks = 40;
constexpr uint32_t kUnmirrorPauseMs = 50;
constexpr double kParkingGap = 64;
// How long the display server has to apply one configuration; a later answer
// is dropped and the round counts as failed.
constexpr uint64_t kCompleteLimitMs = 3000;
constexpr int32_t kNoAnswer = -1;

DisplayConfig& config() {
    return corvane::platform::current().displayConfig();
}

const corvane::platform::HostTerms& terms() {
    return corvane::platform::current().terms();
}

// "display ... mirrors" for one, "displays ... mirror" for several.
const char* nounPlural(int32_t n) {
    return n == 1 ? "" : "s";
}
const char* verbPlural(int32_t n) {
    return n == 1 ? "s" : "";
}

bool allHidpi(const DesktopPlan& plan) {
    for (uint32_t i = 0; i < plan.count; ++i)
        if (!plan.hidpi[i])
            return false;
    return plan.count > 0;
}

// Completes a transaction and waits for its answer within the limit; a
// transaction that was not answered in time is cancelled.
int32_t completeWithin(corvane::platform::DisplayTransaction& tx) {
    MacAwaited<int32_t> applied;
    tx.complete(applied.answer());
    if (const std::optional<int32_t> error = applied.wait(kCompleteLimitMs))
        return *error;
    tx.cancel();
    MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
               "%s did not answer a display configuration within %llu ms", terms().system,
               static_cast<unsigned long long>(kCompleteLimitMs));
    return kNoAnswer;
}

// A whole-number frame, as the display server reports it.
bool frameOf(uint32_t id, int32_t (&f)[4]) {
    DisplayBounds b;
    if (!config().bounds(id, b))
        return false;
    f[0] = static_cast<int32_t>(b.x);
    f[1] = static_cast<int32_t>(b.y);
    f[2] = static_cast<int32_t>(b.width);
    f[3] = static_cast<int32_t>(b.height);
    return true;
}

// Reads a 2x display's mode until it reports pixels (about 1.5 s).
bool readMode(uint32_t id, DisplayModeInfo& mode) {
    for (int i = 0; i < kModeReads; ++i) {
        if (config().currentMode(id, mode) && mode.pixelWidth > 0 && mode.pixelHeight > 0)
            return true;
        if (i + 1 < kModeReads)
            mac_sleep_ms(kModeReadPauseMs);
    }
    return false;
}

// True when the display did not take its 2x mode.
bool missedHidpi(uint32_t id, uint32_t width, uint32_t height) {
    DisplayModeInfo mode;
    if (!readMode(id, mode))
        return false; // kept as it is
    if (mode.pixelWidth == static_cast<int32_t>(width) &&
        mode.pixelHeight == static_cast<int32_t>(height) &&
        std::fabs(static_cast<double>(width) - 2 * mode.pointsWidth) <= 1)
        return false;
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_has_mode",
               "display %u reports %zux%zu pixels, %.0fx%.0f points (wanted %dx%d%s)", id,
               static_cast<size_t>(mode.pixelWidth), static_cast<size_t>(mode.pixelHeight),
               mode.pointsWidth, mode.pointsHeight, width, height, " at 2x");
    return true;
}

void removeKept(const KeptDisplays& kept) {
    for (uint32_t id : kept.ids)
        mac_vdisplay_destroy(id);
}

// Step 5: one display per monitor. False when one could not be made.
bool createDisplays(macShadowSubsystem* r, DesktopPlan& plan) {
    r->createToggle ^= 1;
    for (uint32_t i = 0; i < plan.count; ++i) {
        const auto idx = static_cast<int32_t>(i);
        uint32_t id = mac_vdisplay_create(plan.width[i], plan.height[i], 60, idx,
                                          static_cast<uint32_t>(r->createToggle),
                                          static_cast<int32_t>(plan.hidpi[i]));
        if (id != 0 && plan.hidpi[i] && missedHidpi(id, plan.width[i], plan.height[i])) {
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                       "%s did not apply the 2x mode to virtual display %d (%dx%d): making it "
                       "a 1x display instead (the client shows it at half size)",
                       terms().system, idx, plan.width[i], plan.height[i]);
            mac_vdisplay_destroy(id);
            mac_sleep_ms(kRecreatePauseMs);
            plan.hidpi[i] = 0;
            id = mac_vdisplay_create(plan.width[i], plan.height[i], 60, idx,
                                     static_cast<uint32_t>(r->createToggle), 0);
        }
        if (id == 0) {
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                       "could not create virtual display %d (%dx%d%s)", idx, plan.width[i],
                       plan.height[i], plan.hidpi[i] ? " HiDPI" : "");
            return false;
        }
        r->virtualIds[i] = id;
        r->virtualCount += 1;
    }
    return true;
}

struct Arrangement {
    bool mirror = false;
    double xOffset = 0;
    double factor = 1;
    std::vector<uint32_t> toMirror;
    std::vector<std::pair<int32_t, int32_t>> parked; // where each kept display waits
};

// Points per pixel of the plan in the display space: a display space that
// counts points gives a desktop of 2x displays half its pixel size.
double factorFor(const DesktopPlan& plan) {
    return allHidpi(plan) && config().hiDpiScope() == HiDpiScope::perDisplay ? 0.5 : 1.0;
}

// Places for the old displays beside the new layout while the new one
// settles: in a row to its right, then in a row below, within the display
// space. Nothing when they do not all fit.
std::optional<std::vector<std::pair<int32_t, int32_t>>>
parkingPlaces(const DesktopPlan& plan, const Arrangement& a, const KeptDisplays& kept) {
    const DisplaySpace space = config().maxSpace();
    const bool limited = space.width > 0 && space.height > 0;
    const double right = a.xOffset + a.factor * plan.totalWidth;
    double x = right + kParkingGap, y = 0;
    double shelfBottom = a.factor * plan.totalHeight;
    bool firstShelf = true;
    std::vector<std::pair<int32_t, int32_t>> places;
    for (uint32_t id : kept.ids) {
        DisplayBounds b;
        if (!config().bounds(id, b))
            b = {};
        if (limited && x + b.width > space.width && firstShelf) {
            firstShelf = false;
            x = 0;
            y = shelfBottom + kParkingGap;
        }
        if (limited && (x + b.width > space.width || y + b.height > space.height))
            return std::nullopt;
        places.emplace_back(static_cast<int32_t>(x), static_cast<int32_t>(y));
        x += b.width + kParkingGap;
        shelfBottom = std::max(shelfBottom, y + b.height);
    }
    return places;
}

bool placedAsAsked(const macShadowSubsystem* r, const DesktopPlan& plan, const Arrangement& a) {
    for (uint32_t i = 0; i < plan.count; ++i) {
        DisplayBounds b;
        if (!config().bounds(r->virtualIds[i], b))
            return false;
        const auto tx = static_cast<int32_t>(a.xOffset + a.factor * plan.x[i]);
        const auto ty = static_cast<int32_t>(a.factor * plan.y[i]);
        if (std::fabs(b.x - tx) > 1 || std::fabs(b.y - ty) > 1)
            return false;
    }
    return true;
}

// One round of step 6: mirroring (until something is mirrored) and places.
void arrangeOnce(macShadowSubsystem* r, const DesktopPlan& plan, const Arrangement& a,
                 const KeptDisplays& kept) {
    int32_t error = 0;
    auto tx = config().begin(error);
    if (!tx) {
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                   "arranging the virtual displays failed (%s %d)", terms().errorName, error);
        return;
    }
    bool configuredMirror = false;
    if (a.mirror && r->mirroredCount == 0) {
        for (uint32_t display : a.toMirror)
            if (r->mirroredCount < 16 && tx->mirror(display, r->virtualIds[0]) == 0) {
                r->mirroredDisplays[r->mirroredCount++] = display;
                configuredMirror = true;
            }
    }
    for (uint32_t i = 0; i < plan.count; ++i)
        tx->place(r->virtualIds[i], static_cast<int32_t>(a.xOffset + a.factor * plan.x[i]),
                  static_cast<int32_t>(a.factor * plan.y[i]));
    for (size_t k = 0; k < kept.ids.size() && k < a.parked.size(); ++k)
        tx->place(kept.ids[k], a.parked[k].first, a.parked[k].second);
    error = completeWithin(*tx);
    if (error != 0) {
        if (configuredMirror)
            r->mirroredCount = 0;
        tx->cancel();
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                   "arranging the virtual displays failed (%s %d)", terms().errorName, error);
    }
}

void arrange(macShadowSubsystem* r, const DesktopPlan& plan, const Arrangement& a,
             const KeptDisplays& kept) {
    r->mirroredCount = 0;
    // Asking a display server that places them itself would only cost the
    // rounds' waits at every connect.
    if (config().placesVirtualDisplaysItself())
        return;
    for (int round = 1; round <= kRounds; ++round) {
        arrangeOnce(r, plan, a, kept);
        mac_sleep_ms(kRoundSettleMs);
        const bool mirrorOk = !a.mirror || r->mirroredCount > 0 || a.toMirror.empty();
        if (mirrorOk && placedAsAsked(r, plan, a))
            break;
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
                   "the virtual displays are not arranged as asked yet%s",
                   round < kRounds ? ", trying again" : "");
    }
    if (a.mirror && r->mirroredCount > 0)
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
                   "%s display%s now mirror%s the remote desktop (%dx%d%s)", terms().computers,
                   nounPlural(r->mirroredCount), verbPlural(r->mirroredCount), plan.width[0],
                   plan.height[0], plan.hidpi[0] ? " HiDPI" : "");
}

// Step 7: where each display came up, and the mappings input uses.
void report(const macShadowSubsystem* r, const DesktopPlan& plan, DisplayMapping* mappings) {
    for (uint32_t i = 0; i < plan.count; ++i) {
        DisplayBounds b;
        DisplayModeInfo mode;
        config().bounds(r->virtualIds[i], b);
        if (!config().currentMode(r->virtualIds[i], mode))
            mode = {};
        const auto w = static_cast<int32_t>(plan.width[i]);
        const auto h = static_cast<int32_t>(plan.height[i]);
        mappings[i] = {plan.x[i], plan.y[i], w, h, b.x, b.y, b.width > 0 ? b.width / w : 1.0};
        const auto idx = static_cast<int32_t>(i);
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
                   "virtual display %d: id %u, %dx%d%s at desktop %d,%d, %s %.0f,%.0f, "
                   "size %.0fx%.0f points, %zux%zu pixels",
                   idx, r->virtualIds[i], w, h, plan.hidpi[i] ? " HiDPI" : "", plan.x[i], plan.y[i],
                   terms().position, b.x, b.y, b.width, b.height,
                   static_cast<size_t>(mode.pixelWidth), static_cast<size_t>(mode.pixelHeight));
        if (mode.pixelWidth > 0 && (mode.pixelWidth != w || mode.pixelHeight != h))
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                       "virtual display %d came up as %zux%zu pixels instead of %dx%d; the "
                       "picture will be scaled",
                       idx, static_cast<size_t>(mode.pixelWidth),
                       static_cast<size_t>(mode.pixelHeight), w, h);
        else if (mode.pixelWidth > 0 && plan.hidpi[i] &&
                 std::fabs(2 * mode.pointsWidth - mode.pixelWidth) > 1)
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                       "virtual display %d is %.0f points wide for %zu pixels: %s did not "
                       "apply the HiDPI mode (the remote picture shows everything at half size)",
                       idx, mode.pointsWidth, static_cast<size_t>(mode.pixelWidth), terms().system);
    }
}

bool mirrorHolds(const macShadowSubsystem* r) {
    int32_t master[4];
    if (!frameOf(r->virtualIds[0], master))
        return true;
    if (master[0] != 0 || master[1] != 0)
        return false;
    for (int32_t k = 0; k < r->mirroredCount; ++k) {
        int32_t f[4];
        if (frameOf(r->mirroredDisplays[k], f) &&
            (f[0] != master[0] || f[1] != master[1] || f[2] != master[2] || f[3] != master[3]))
            return false;
    }
    return true;
}

void repairMirror(const macShadowSubsystem* r) {
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
               "%s dropped the mirroring after the resize: setting it up again", terms().system);
    int32_t error = 0;
    if (auto tx = config().begin(error)) {
        for (int32_t k = 0; k < r->mirroredCount; ++k)
            tx->mirror(r->mirroredDisplays[k], 0);
        if (completeWithin(*tx) != 0)
            tx->cancel();
    }
    mac_sleep_ms(kRecreatePauseMs);
    auto tx = config().begin(error);
    if (tx) {
        for (int32_t k = 0; k < r->mirroredCount; ++k)
            tx->mirror(r->mirroredDisplays[k], r->virtualIds[0]);
        tx->place(r->virtualIds[0], 0, 0);
        error = completeWithin(*tx);
        if (error != 0)
            tx->cancel();
    }
    if (error != 0)
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked", "mirroring again failed (%s %d)",
                   terms().errorName, error);
}

// The host sometimes drops a fresh mirror set: watch it for a while and set
// it up again, at most three times.
void watchMirror(const macShadowSubsystem* r) {
    int passes = 0;
    int repairs = 0;
    for (int check = 0; check < kWatchChecks && passes < kWatchPassesNeeded; ++check) {
        if (check > 0)
            mac_sleep_ms(kWatchPauseMs);
        if (mirrorHolds(r)) {
            ++passes;
            continue;
        }
        if (repairs == kMaxRepairs)
            break;
        ++repairs;
        repairMirror(r);
        passes = 0;
    }
    if (passes < kWatchPassesNeeded)
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                   "%s displays may not mirror the remote desktop (%s keeps dropping it)",
                   terms().computers, terms().system);
}

// Displays that moved while the mirror set settled keep their new place.
void followMoves(const macShadowSubsystem* r, const DesktopPlan& plan, DisplayMapping* mappings) {
    for (uint32_t i = 0; i < plan.count; ++i) {
        int32_t f[4];
        if (!frameOf(r->virtualIds[i], f))
            continue;
        if (std::fabs(f[0] - mappings[i].macX) > 0.5 || std::fabs(f[1] - mappings[i].macY) > 0.5) {
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
                       "virtual display %d is at %s %d,%d", static_cast<int32_t>(i),
                       terms().position, f[0], f[1]);
            mappings[i].macX = f[0];
            mappings[i].macY = f[1];
        }
    }
}

Arrangement arrangementFor(const macShadowSubsystem* r, const DesktopPlan& plan,
                           const KeptDisplays& kept) {
    Arrangement a;
    a.mirror = mac_env::mirror();
    if (!a.mirror) {
        DisplayBounds main;
        if (config().bounds(config().mainDisplay(), main))
            a.xOffset = main.x + main.width;
    }
    if (!kept.mirrored.empty())
        a.toMirror = kept.mirrored;
    else
        a.toMirror = config().activeDisplays(16);
    a.factor = factorFor(plan);
    (void)r;
    return a;
}

// The capture finds every display of the new desktop: a display the display
// server never placed may not be there to capture at all.
bool allCapturable(const macShadowSubsystem* r, const DesktopPlan& plan) {
    for (uint32_t i = 0; i < plan.count; ++i)
        if (!mac_display_frame(r->virtualIds[i], nullptr, nullptr, nullptr, nullptr)) {
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked",
                       "virtual display %d (id %u) is not there to capture: %s did not place it",
                       static_cast<int32_t>(i), r->virtualIds[i], terms().system);
            return false;
        }
    return true;
}

} // namespace

KeptDisplays mac_shadow_clear_for_plan(macShadowSubsystem* r, const DesktopPlan& plan) {
    KeptDisplays kept;
    if (!plan.useVirtual || r->mirroredCount == 0) {
        mac_shadow_destroy_virtual(r);
        return kept;
    }
    kept.ids.assign(r->virtualIds, r->virtualIds + r->virtualCount);
    kept.mirrored.assign(r->mirroredDisplays, r->mirroredDisplays + r->mirroredCount);
    r->virtualCount = 0;
    r->virtualActive = false;
    return kept;
}

bool mac_shadow_build_virtual(macShadowSubsystem* r, DesktopPlan& plan, const KeptDisplays& old,
                              DisplayMapping* mappings) {
    // The arrangement is read before creation: the main display's right
    // edge without the new displays.
    Arrangement a = arrangementFor(r, plan, old);
    if (!createDisplays(r, plan)) {
        mac_shadow_destroy_virtual(r);
        removeKept(old);
        return false;
    }
    a.factor = factorFor(plan);
    KeptDisplays kept = old;
    if (auto places = parkingPlaces(plan, a, kept)) {
        a.parked = std::move(*places);
    } else {
        // A display space that cannot hold old and new side by side would
        // refuse the whole arrangement: the old ones go first.
        const DisplaySpace space = config().maxSpace();
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
                   "no room for the old virtual displays beside the new ones in a %.0fx%.0f "
                   "display space: removing them first",
                   space.width, space.height);
        removeKept(kept);
        kept.ids.clear();
    }
    arrange(r, plan, a, kept);
    report(r, plan, mappings);
    r->virtualActive = true;
    if (!kept.ids.empty()) {
        mac_sleep_ms(kOldDisplaysGraceMs);
        removeKept(kept);
    }
    if (r->mirroredCount > 0)
        watchMirror(r);
    followMoves(r, plan, mappings);
    const bool capturable = allCapturable(r, plan);
    // What the client gets instead is known only now: the displays beside
    // the real screen, or (where the display server placed none of them, as
    // X11 does not when an output cannot show the client's size) the real
    // screen itself.
    if (a.mirror && r->mirroredCount == 0)
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_apply_resize_locked", "could not mirror %s displays%s",
                   terms().computers, capturable ? "; the remote desktop is an extra screen" : "");
    if (!capturable) {
        mac_shadow_destroy_virtual(r);
        return false;
    }
    return true;
}

extern "C" void mac_shadow_destroy_virtual(macShadowSubsystem* r) {
    if (!r)
        return;
    if (r->mirroredCount > 0) {
        int32_t error = 0;
        auto tx = config().begin(error);
        if (tx) {
            for (int32_t k = 0; k < r->mirroredCount; ++k)
                tx->mirror(r->mirroredDisplays[k], 0);
            error = completeWithin(*tx);
            if (error != 0)
                tx->cancel();
        }
        if (error != 0) {
            MAC_LOG_FN(WLOG_WARN, "mac_shadow_unmirror",
                       "could not stop mirroring (%s %d); removing the virtual display ends it",
                       terms().errorName, error);
        } else {
            for (int i = 0; i < kUnmirrorChecks; ++i) {
                bool still = false;
                for (int32_t k = 0; k < r->mirroredCount; ++k)
                    still |= config().mirrorsDisplay(r->mirroredDisplays[k]) != 0;
                if (!still)
                    break;
                mac_sleep_ms(kUnmirrorPauseMs);
            }
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_unmirror",
                       "%s display%s no longer mirror%s the remote desktop", terms().computers,
                       nounPlural(r->mirroredCount), verbPlural(r->mirroredCount));
        }
        r->mirroredCount = 0;
    }
    if (r->virtualCount > 0 || r->virtualActive) {
        mac_vdisplay_destroy_all();
        r->virtualCount = 0;
        r->virtualActive = false;
    }
}

bool mac_shadow_fall_back_if_gone(macShadowSubsystem* r) {
    SectionLock display(r->displayLock);
    if (r->tearingDown.load() || !r->virtualActive)
        return false;
    int32_t gone = -1;
    for (int32_t i = 0; i < r->virtualCount && gone < 0; ++i)
        if (!mac_display_frame(r->virtualIds[i], nullptr, nullptr, nullptr, nullptr))
            gone = i;
    if (gone < 0)
        return false;
    {
        SectionLock lock(r->subsystemLock);
        if (r->resizePending)
            return false; // the plan waiting rebuilds the displays anyway
        r->lastClientPlanValid = false;
    }
    MAC_LOG_FN(WLOG_WARN, "mac_shadow_screen_grab",
               "virtual display %d (id %u) is gone: the desktop goes back to the real screen", gone,
               r->virtualIds[gone]);
    DesktopPlan plan = {};
    plan.count = 1;
    plan.width[0] = plan.totalWidth = static_cast<uint32_t>(r->desktopWidth);
    plan.height[0] = plan.totalHeight = static_cast<uint32_t>(r->desktopHeight);
    mac_shadow_hand_over_plan(r, plan, 0);
    return true;
}

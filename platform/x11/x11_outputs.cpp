#include "x11_outputs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

namespace corvane::platform::x11 {

namespace {

struct ResourcesFree {
    void operator()(XRRScreenResources* r) const { XRRFreeScreenResources(r); }
};
struct CrtcFree {
    void operator()(XRRCrtcInfo* c) const { XRRFreeCrtcInfo(c); }
};
struct OutputFree {
    void operator()(XRROutputInfo* o) const { XRRFreeOutputInfo(o); }
};
struct XFreeDeleter {
    void operator()(void* p) const { XFree(p); }
};
using ResourcesPtr = std::unique_ptr<XRRScreenResources, ResourcesFree>;
using CrtcPtr = std::unique_ptr<XRRCrtcInfo, CrtcFree>;
using OutputPtr = std::unique_ptr<XRROutputInfo, OutputFree>;
using TransformPtr = std::unique_ptr<XRRCrtcTransformAttributes, XFreeDeleter>;

ResourcesPtr resources(Display* d) {
    return ResourcesPtr(XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d)));
}

bool lists(const XRROutputInfo* o, RRMode mode) {
    return std::find(o->modes, o->modes + o->nmode, mode) != o->modes + o->nmode;
}

// An output without the monitor's EDID drives no monitor of its own (Xvfb's,
// a dummy or remote one): any size suits it. A real monitor gets only the
// modes its EDID lists.
bool takesAnySize(Display* d, RROutput output) {
    const Atom edid = XInternAtom(d, "EDID", True);
    if (edid == None)
        return true;
    int count = 0;
    Atom* props = XRRListOutputProperties(d, output, &count);
    const bool has = props && std::find(props, props + count, edid) != props + count;
    if (props)
        XFree(props);
    return !has;
}

bool sideways(Rotation r) {
    return (r & (RR_Rotate_90 | RR_Rotate_270)) != 0;
}

XTransform identity() {
    XTransform t{};
    t.matrix[0][0] = t.matrix[1][1] = t.matrix[2][2] = XDoubleToFixed(1);
    return t;
}

bool sameTransform(const XTransform& a, const XTransform& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool setCrtc(Display* d, RRCrtc crtc, int x, int y, RRMode mode, Rotation rotation,
             std::vector<RROutput>& outputs) {
    ResourcesPtr res = resources(d);
    if (!res)
        return false;
    return XRRSetCrtcConfig(d, res.get(), crtc, CurrentTime, x, y, mode, rotation, outputs.data(),
                            static_cast<int>(outputs.size())) == RRSetConfigSuccess;
}

} // namespace

bool anyActiveCrtc(Display* d) {
    ResourcesPtr res = resources(d);
    for (int i = 0; res && i < res->ncrtc; ++i) {
        CrtcPtr crtc(XRRGetCrtcInfo(d, res.get(), res->crtcs[i]));
        if (crtc && crtc->mode != None && crtc->noutput > 0)
            return true;
    }
    return false;
}

bool OutputMirror::saveActive(Display* d) {
    ResourcesPtr res = resources(d);
    if (!res)
        return false;
    for (int i = 0; i < res->ncrtc; ++i) {
        CrtcPtr info(XRRGetCrtcInfo(d, res.get(), res->crtcs[i]));
        if (!info || info->mode == None || info->noutput == 0)
            continue;
        Saved s;
        s.crtc = res->crtcs[i];
        s.mode = info->mode;
        s.x = info->x;
        s.y = info->y;
        s.width = info->width;
        s.height = info->height;
        s.rotation = info->rotation;
        s.outputs.assign(info->outputs, info->outputs + info->noutput);
        s.transform = identity();
        XRRCrtcTransformAttributes* raw = nullptr;
        if (XRRGetCrtcTransform(d, s.crtc, &raw) && raw) {
            TransformPtr attributes(raw);
            s.transform = attributes->currentTransform;
            s.filter = attributes->currentFilter ? attributes->currentFilter : "";
        }
        saved_.push_back(std::move(s));
    }
    return true;
}

RRMode OutputMirror::findListedMode(Display* d, const Saved& s, uint32_t width,
                                    uint32_t height) const {
    ResourcesPtr res = resources(d);
    if (!res)
        return None;
    std::vector<OutputPtr> outputs;
    for (RROutput id : s.outputs) {
        outputs.emplace_back(XRRGetOutputInfo(d, res.get(), id));
        if (!outputs.back())
            return None;
    }
    for (int i = 0; i < res->nmode; ++i) {
        const XRRModeInfo& m = res->modes[i];
        if (m.width == width && m.height == height &&
            std::all_of(outputs.begin(), outputs.end(),
                        [&](const OutputPtr& o) { return lists(o.get(), m.id); }))
            return m.id;
    }
    return None;
}

OutputFacts OutputMirror::factsOf(Display* d, const Saved& s, int32_t width, int32_t height) const {
    OutputFacts facts;
    facts.sideways = sideways(s.rotation);
    if (ResourcesPtr res = resources(d))
        for (int i = 0; i < res->nmode; ++i)
            if (res->modes[i].id == s.mode) {
                facts.modeWidth = res->modes[i].width;
                facts.modeHeight = res->modes[i].height;
            }
    const auto w = static_cast<uint32_t>(facts.sideways ? height : width);
    const auto h = static_cast<uint32_t>(facts.sideways ? width : height);
    facts.listsSize = findListedMode(d, s, w, h) != None;
    facts.takesAnySize = std::all_of(s.outputs.begin(), s.outputs.end(),
                                     [&](RROutput id) { return takesAnySize(d, id); });
    return facts;
}

RRMode OutputMirror::addMode(Display* d, const Saved& s, uint32_t width, uint32_t height) {
    ResourcesPtr res = resources(d);
    if (!res)
        return None;
    const std::string name = "Corvane " + std::to_string(width) + "x" + std::to_string(height);
    RRMode mode = None;
    for (int i = 0; i < res->nmode && mode == None; ++i)
        if (res->modes[i].nameLength == name.size() &&
            std::memcmp(res->modes[i].name, name.data(), name.size()) == 0)
            mode = res->modes[i].id;
    if (mode == None) {
        XRRModeInfo* info = XRRAllocModeInfo(name.c_str(), static_cast<int>(name.size()));
        if (!info)
            return None;
        // Timings of a plain 60 Hz mode; an output without a monitor shows
        // any.
        info->width = width;
        info->height = height;
        info->hSyncStart = width + 48;
        info->hSyncEnd = width + 80;
        info->hTotal = width + 160;
        info->vSyncStart = height + 3;
        info->vSyncEnd = height + 9;
        info->vTotal = height + 30;
        info->dotClock = 60ul * info->hTotal * info->vTotal;
        mode = XRRCreateMode(d, DefaultRootWindow(d), info);
        XRRFreeModeInfo(info);
        if (mode == None)
            return None;
    }
    Added added{mode, {}};
    for (RROutput id : s.outputs) {
        XRRAddOutputMode(d, id, mode);
        added.outputs.push_back(id);
    }
    added_.push_back(std::move(added));
    XSync(d, False);
    // The outputs list the mode only when they took it.
    ResourcesPtr after = resources(d);
    for (RROutput id : s.outputs) {
        OutputPtr o(after ? XRRGetOutputInfo(d, after.get(), id) : nullptr);
        if (!o || !lists(o.get(), mode))
            return None;
    }
    return mode;
}

// A mode of the area's size, shown without a transform.
bool OutputMirror::switchMode(Display* d, Saved& s, int32_t x, int32_t y, const OutputStep& step) {
    const RRMode mode = step.way == OutputWay::listedMode
                            ? findListedMode(d, s, step.modeWidth, step.modeHeight)
                            : addMode(d, s, step.modeWidth, step.modeHeight);
    if (mode == None)
        return false;
    if (s.transformed || !sameTransform(s.transform, identity())) {
        XTransform plain = identity();
        XRRSetCrtcTransform(d, s.crtc, &plain, "nearest", nullptr, 0);
        s.transformed = true;
    }
    return setCrtc(d, s.crtc, x, y, mode, s.rotation, s.outputs);
}

// The output's own mode, scaled onto the area: taken when the server keeps
// the transform and the CRTC then covers the area exactly (a server without
// transforms, such as Xvfb, refuses the request).
bool OutputMirror::scaleOnto(Display* d, Saved& s, int32_t x, int32_t y, int32_t width,
                             int32_t height, const OutputStep& step) {
    XTransform t = identity();
    t.matrix[0][0] = XDoubleToFixed(step.scaleX);
    t.matrix[1][1] = XDoubleToFixed(step.scaleY);
    XRRSetCrtcTransform(d, s.crtc, &t, "bilinear", nullptr, 0);
    s.transformed = true;
    if (!setCrtc(d, s.crtc, x, y, s.mode, s.rotation, s.outputs))
        return false;
    XRRCrtcTransformAttributes* raw = nullptr;
    if (!XRRGetCrtcTransform(d, s.crtc, &raw) || !raw)
        return false;
    TransformPtr attributes(raw);
    if (!sameTransform(attributes->currentTransform, t))
        return false;
    ResourcesPtr res = resources(d);
    CrtcPtr info(res ? XRRGetCrtcInfo(d, res.get(), s.crtc) : nullptr);
    return info && info->x == x && info->y == y && static_cast<int32_t>(info->width) == width &&
           static_cast<int32_t>(info->height) == height;
}

bool OutputMirror::showOne(Display* d, Saved& s, int32_t x, int32_t y, int32_t width,
                           int32_t height) {
    for (const OutputStep& step : outputSteps(factsOf(d, s, width, height), width, height)) {
        const bool shown = step.way == OutputWay::scaled
                               ? scaleOnto(d, s, x, y, width, height, step)
                               : switchMode(d, s, x, y, step);
        if (shown)
            return true;
    }
    return false;
}

bool OutputMirror::show(Display* d, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (saved_.empty() && !saveActive(d))
        return false;
    for (Saved& s : saved_)
        if (!showOne(d, s, x, y, width, height)) {
            restore(d);
            return false;
        }
    // Modes of an earlier size that no output shows any more go.
    RRMode keep = None;
    if (ResourcesPtr res = resources(d); res && !saved_.empty())
        if (CrtcPtr c{XRRGetCrtcInfo(d, res.get(), saved_.front().crtc)})
            keep = c->mode;
    dropAddedModes(d, keep);
    return true;
}

void OutputMirror::restore(Display* d) {
    for (Saved& s : saved_) {
        if (s.transformed || !sameTransform(s.transform, identity()))
            XRRSetCrtcTransform(d, s.crtc, &s.transform,
                                s.filter.empty() ? "nearest" : s.filter.c_str(), nullptr, 0);
        setCrtc(d, s.crtc, s.x, s.y, s.mode, s.rotation, s.outputs);
    }
    saved_.clear();
    dropAddedModes(d, None);
    XSync(d, False);
}

void OutputMirror::dropAddedModes(Display* d, RRMode keep) {
    std::vector<Added> kept;
    for (Added& a : added_) {
        if (a.mode == keep) {
            kept.push_back(std::move(a));
            continue;
        }
        for (RROutput id : a.outputs)
            XRRDeleteOutputMode(d, id, a.mode);
        XRRDestroyMode(d, a.mode);
    }
    added_ = std::move(kept);
}

std::pair<int32_t, int32_t> OutputMirror::originalExtent() const {
    int32_t right = 0, bottom = 0;
    for (const Saved& s : saved_) {
        right = std::max(right, s.x + static_cast<int32_t>(s.width));
        bottom = std::max(bottom, s.y + static_cast<int32_t>(s.height));
    }
    return {right, bottom};
}

namespace {

std::string idList(const std::vector<RROutput>& ids) {
    std::string out;
    for (RROutput id : ids)
        out += (out.empty() ? "" : ",") + std::to_string(id);
    return out.empty() ? "-" : out;
}

std::vector<RROutput> parseIds(const std::string& text) {
    std::vector<RROutput> ids;
    std::istringstream in(text);
    for (std::string id; std::getline(in, id, ',');)
        if (id != "-")
            ids.push_back(std::strtoul(id.c_str(), nullptr, 10));
    return ids;
}

} // namespace

std::string OutputMirror::save() const {
    std::ostringstream out;
    for (const Saved& s : saved_) {
        out << "crtc " << s.crtc << ' ' << s.mode << ' ' << s.x << ' ' << s.y << ' ' << s.width
            << ' ' << s.height << ' ' << s.rotation << ' ' << (s.transformed ? 1 : 0);
        for (const auto& row : s.transform.matrix)
            for (XFixed v : row)
                out << ' ' << v;
        out << ' ' << (s.filter.empty() ? "-" : s.filter) << ' ' << idList(s.outputs) << '\n';
    }
    for (const Added& a : added_)
        out << "added " << a.mode << ' ' << idList(a.outputs) << '\n';
    return out.str();
}

void OutputMirror::load(const std::string& text) {
    saved_.clear();
    added_.clear();
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string kind, filter, outputs;
        in >> kind;
        if (kind == "crtc") {
            Saved s;
            int transformed = 0;
            in >> s.crtc >> s.mode >> s.x >> s.y >> s.width >> s.height >> s.rotation >>
                transformed;
            for (auto& row : s.transform.matrix)
                for (XFixed& v : row)
                    in >> v;
            in >> filter >> outputs;
            s.transformed = transformed != 0;
            s.filter = filter == "-" ? "" : filter;
            s.outputs = parseIds(outputs);
            if (in && !s.outputs.empty())
                saved_.push_back(std::move(s));
        } else if (kind == "added") {
            Added a;
            in >> a.mode >> outputs;
            a.outputs = parseIds(outputs);
            if (in)
                added_.push_back(std::move(a));
        }
    }
}

} // namespace corvane::platform::x11

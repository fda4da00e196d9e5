// The two privacy permissions the server needs, and their reset.
#pragma once
#include <string>
#include <string_view>

namespace corvane::platform {

inline constexpr std::string_view kScreenService = "ScreenCapture";
inline constexpr std::string_view kInputService = "Accessibility";

class Privacy {
  public:
    virtual ~Privacy() = default;
    // May the process capture the screen? With request, ask first (the
    // answer of the request itself is not used).
    virtual bool screenAccess(bool request) = 0;
    // Is the process trusted to post input? With prompt, ask the user first.
    virtual bool accessibilityTrusted(bool prompt) = 0;
    // Forget the decision for one service of one application so that the
    // next request asks again. Returns false with a reason in `message`.
    virtual bool reset(std::string_view service, std::string_view bundleId,
                       std::string& message) = 0;
    // Whether reset() has anything to do on this platform.
    virtual bool resetSupported() const = 0;
    // Takes the user to the place where the service is switched on for the
    // server. False when the platform has no such place; `message` then says
    // what the user has to check instead.
    virtual bool openSettings(std::string_view service, std::string& message) = 0;
};

} // namespace corvane::platform

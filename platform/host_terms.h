// How log lines name the computer being shared and its display system. Each
// backend answers with its own words, so that no text above the platform
// layer assumes one operating system.
#pragma once

namespace corvane::platform {

struct HostTerms {
    const char* computer;      // "this computer": "giving %s its own screen back"
    const char* computers;     // "this computer's": "%s displays now mirror ..."
    const char* system;        // who makes display changes: "%s dropped the mirroring"
    const char* errorName;     // the name of its error codes: "(%s %d)"
    const char* position;      // where a display lies: "%s %.0f,%.0f"
    const char* noVirtual;     // virtual displays cannot be made here at all
    const char* virtualUnmade; // one virtual display could not be made
    const char* drawnAt2x;     // what a desktop at 2x means where one scale serves all
    const char* captureName;   // what the screen is captured with: "fps from %s"
    const char* screenAllowed; // what a capture needs: "is the screen on and %s?"
    const char* account;       // whose password logs in: "with %s name and password"
};

// The words of a computer whose display system the backend does not name.
inline constexpr HostTerms kGenericHostTerms = {
    "this computer",
    "this computer's",
    "the display server",
    "error",
    "screen position",
    "this desktop cannot make virtual displays",
    "the virtual display could not be made",
    "programs draw text and widgets at twice their size",
    "the screen capture",
    "screen access allowed",
    "a local account",
};

} // namespace corvane::platform

// The shadow library keeps its TLS certificate and private key in
// <config home>/freerdp/shadow and creates them with the process's umask
// (so 0755 and 0644 with the usual 022). The key must stay the user's own.
#pragma once
#include <string>

// The folder the library uses: $XDG_CONFIG_HOME (or ~/.config)/freerdp/shadow.
std::string corvane_certificate_folder(void);

// Creates the folder (and its parents) private to the user, and makes an
// existing folder and key private. Returns false when the folder could not
// be made private.
bool corvane_private_certificate_folder(void);

// Holds a private umask while the library creates its files.
class PrivateFileMode {
  public:
    PrivateFileMode();
    ~PrivateFileMode();
    PrivateFileMode(const PrivateFileMode&) = delete;
    PrivateFileMode& operator=(const PrivateFileMode&) = delete;

  private:
    unsigned previous_;
};

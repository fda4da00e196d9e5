// Facts about this computer for reports: the operating system, the hardware
// model, an anonymous machine identifier and the web service's address.
#pragma once
#include <string>

namespace corvane::app {

std::string osVersionString();
std::string hardwareModel();
// Stable for one computer, carries no personal data: SHA-256 of the system's
// machine id together with the application's identifier, in hex.
std::string machineIdentifier();
// The machine identifier for a given machine id text (empty when the text
// holds no id).
std::string machineIdentifierFrom(const std::string& machineId);
// Base address of the vendor's web service; CORVANE_SERVICE_BASE overrides
// the built-in address (tests point it at a local server).
std::string serviceBase();
std::string appVersion();

} // namespace corvane::app

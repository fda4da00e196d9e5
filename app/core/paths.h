// Where the application keeps its files. Linux follows the XDG base
// directories; macOS uses the places its users expect. Every path is computed
// on each call so that a changed environment (tests, a new HOME) is honoured.
#pragma once
#include <string>

namespace corvane::app::paths {

// The user's home directory: $HOME, else the password database.
std::string homeDirectory();

// The log file shared by the application and the server's output.
std::string logPath();
// The server's statistics file; its directory is created on every call
// (a failure to create it is ignored: the reader then finds nothing).
std::string statsPath();
// The server's connection log (connections.jsonl beside the log file; the
// server makes its folder).
std::string connectionLogPath();
// FreeRDP's shadow server keeps its TLS certificate and key here.
std::string serverCertDirectory();

// The directory of the running executable (where the server is installed
// next to the application).
std::string applicationDirectory();
// The server's folder for an application in `applicationDirectory`: that
// folder itself when the server lies next to the application (a build
// folder), else the private folder of an installation, which lies at
// `installedServerFolder()` relative to the application's folder.
std::string serverDirectoryFor(const std::string& applicationDirectory);
std::string installedServerFolder();
// The path of the server executable for this application.
std::string bundledServerPath();
// What `Spawn::stopLeftovers` matches at the end of a process's executable.
std::string leftoverServerSuffix();
// Where the application notes the server it started (pid and start time).
std::string serverRecordPath();

// Creates a directory and its missing parents; false when it cannot.
bool makeDirectories(const std::string& path);
// The same for a folder of the user's own files: every folder it creates,
// and the last one whatever it was before, is readable by the user only.
bool makePrivateDirectories(const std::string& path);

} // namespace corvane::app::paths

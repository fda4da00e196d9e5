// "Open Corvane at Login": the desktop's autostart entry for this executable
// (XDG autostart, "corvane.desktop" in the user's autostart folder).
#pragma once
#include <string>

namespace corvane::app::ui {

class LoginItem {
  public:
    virtual ~LoginItem() = default;
    virtual bool enabled() const = 0;
    // False with the reason in `error` when the entry could not be changed.
    virtual bool setEnabled(bool on, std::string& error) = 0;
};

class AutostartEntry : public LoginItem {
  public:
    // The entry file and the program it starts.
    AutostartEntry(std::string entryPath, std::string executable);
    // The user's autostart folder and the running executable.
    static std::string defaultEntryPath();

    bool enabled() const override;
    bool setEnabled(bool on, std::string& error) override;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string executable_;
};

// The Exec value that runs `program` exactly, quoted by the desktop entry
// rules (and escaped again as a desktop entry string).
std::string desktopExecValue(const std::string& program);

} // namespace corvane::app::ui

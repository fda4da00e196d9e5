// Where the settings window keeps the NLA login: the application core's
// login store, behind a small interface the window's tests can replace.
#pragma once
#include <optional>
#include <string>

namespace corvane::app::ui {

class LoginStore {
  public:
    virtual ~LoginStore() = default;
    virtual std::optional<std::string> load() = 0;
    virtual bool save(const std::string& user, const std::string& password) = 0;
    virtual bool rename(const std::string& user) = 0;
    virtual void clear() = 0;
};

// The user's secret store through NLALogin.
LoginStore& systemLoginStore();

} // namespace corvane::app::ui

#include "app/ui/login_store.h"

#include "app/core/nla_login.h"

namespace corvane::app::ui {

namespace {

class SystemLoginStore : public LoginStore {
  public:
    std::optional<std::string> load() override { return NLALogin::load(); }
    bool save(const std::string& user, const std::string& password) override {
        return NLALogin::save(user, password);
    }
    bool rename(const std::string& user) override { return NLALogin::rename(user); }
    void clear() override { NLALogin::clear(); }
};

} // namespace

LoginStore& systemLoginStore() {
    static SystemLoginStore store;
    return store;
}

} // namespace corvane::app::ui

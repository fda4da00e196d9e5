// The sim backend's power service: a screen that can sleep and a record of
// every assertion and declaration, for tests.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../power.h"

namespace corvane::platform::sim {

class SimPower : public Power {
  public:
    bool displayAsleep() override;
    void nudgePointer() override;
    uint32_t createAssertion(AssertionKind kind, std::string_view name) override;
    void releaseAssertion(uint32_t id) override;
    uint32_t declareUserActivity(std::string_view name) override;
    uint32_t declareSystemActivity(std::string_view name) override;

    void setAsleep(bool asleep);
    // How many activity declarations or nudges the sleeping screen ignores
    // before it wakes (-1: it never wakes).
    void setWakeAfter(int declarations);
    void setAssertionsFail(bool fail);
    // Assertions held now, by name.
    std::vector<std::string> heldAssertions();
    std::vector<std::string> declarations();
    int nudges();

  private:
    void wakeStep();
    std::mutex mutex_;
    bool asleep_ = false;
    int wakeAfter_ = 0;
    bool fail_ = false;
    uint32_t nextId_ = 1;
    std::map<uint32_t, std::string> held_;
    std::vector<std::string> declarations_;
    int nudges_ = 0;
};

} // namespace corvane::platform::sim

// The sim backend's pasteboard: items in memory and a change count that
// grows with every replacement, by the server or by the test standing in
// for another program on the desktop.
#pragma once
#include <map>
#include <mutex>

#include "../pasteboard.h"

namespace corvane::platform::sim {

class SimPasteboard : public Pasteboard {
  public:
    int64_t changeCount() override;
    uint32_t types() override;
    std::optional<std::vector<uint8_t>> read(PasteboardType type) override;
    bool write(PasteboardType type, std::vector<uint8_t> data) override;

    // Another program replaces the pasteboard with these items (several
    // types at once, or none to empty it); the change count grows by one.
    void putFromDesktop(std::map<PasteboardType, std::vector<uint8_t>> items);
    // The server's writes are refused while set; contents and count stay.
    void setRefuseWrites(bool refuse);
    int writes();

  private:
    std::mutex mutex_;
    std::map<PasteboardType, std::vector<uint8_t>> items_;
    int64_t changeCount_ = 1;
    bool refuse_ = false;
    int writes_ = 0;
};

} // namespace corvane::platform::sim

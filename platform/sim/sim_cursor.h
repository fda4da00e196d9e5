// Sim cursor: the test sets the seed and the image.
#pragma once
#include <mutex>
#include <optional>

#include "../cursor.h"

namespace corvane::platform::sim {

class SimCursor : public CursorSource {
  public:
    int32_t seed() override;
    bool current(CursorImage& out) override;

    void setSeed(int32_t seed);
    // Without an image there is no cursor.
    void setImage(std::optional<CursorImage> image);
    // How often the image was asked for.
    int imageRequests() const;

  private:
    mutable std::mutex mutex_;
    int32_t seed_ = -1;
    std::optional<CursorImage> image_;
    int imageRequests_ = 0;
};

} // namespace corvane::platform::sim

// Holds a WinPR critical section for a scope, so that no early return can
// leave it held. unlock() leaves it before the scope ends, for the places
// that must not hold it across a call (a capture request, a wait); the
// destructor then does nothing.
#pragma once
#include <winpr/synch.h>

class SectionLock {
  public:
    [[nodiscard]] explicit SectionLock(CRITICAL_SECTION& section) : section_(&section) {
        EnterCriticalSection(section_);
    }
    ~SectionLock() { unlock(); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

    void unlock() {
        if (!section_)
            return;
        LeaveCriticalSection(section_);
        section_ = nullptr;
    }

  private:
    CRITICAL_SECTION* section_;
};

// The scoped guard over a WinPR critical section: held for its scope, let go
// early by unlock(), and never let go twice.
#include <future>

#include <gtest/gtest.h>

#include "server/shadow/Mac/core/section_lock.h"

namespace {

struct Section {
    Section() { InitializeCriticalSection(&cs); }
    ~Section() { DeleteCriticalSection(&cs); }
    CRITICAL_SECTION cs;
};

// Whether another thread could take the section right now.
bool freeForOthers(CRITICAL_SECTION& cs) {
    auto attempt = [&cs] {
        if (!TryEnterCriticalSection(&cs))
            return false;
        LeaveCriticalSection(&cs);
        return true;
    };
    return std::async(std::launch::async, attempt).get();
}

TEST(SectionLock, HoldsTheSectionForItsScopeOrUntilUnlock) {
    Section s;
    {
        SectionLock lock(s.cs);
        EXPECT_FALSE(freeForOthers(s.cs));
    }
    EXPECT_TRUE(freeForOthers(s.cs));
    SectionLock lock(s.cs);
    lock.unlock();
    EXPECT_TRUE(freeForOthers(s.cs)) << "before the scope ends";
}

// Critical sections are recursive: a guard that left a second time would
// release the hold taken around it.
TEST(SectionLock, LeavesOnceAfterAnEarlyUnlock) {
    Section s;
    EnterCriticalSection(&s.cs);
    {
        SectionLock lock(s.cs);
        lock.unlock();
        lock.unlock();
    }
    EXPECT_FALSE(freeForOthers(s.cs));
    LeaveCriticalSection(&s.cs);
    EXPECT_TRUE(freeForOthers(s.cs));
}

} // namespace

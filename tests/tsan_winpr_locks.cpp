// ThreadSanitizer builds only: WinPR's critical sections are built from
// atomics and semaphores that the sanitizer cannot see, so data guarded by
// them looked unguarded. The test executables put these three functions in
// front of WinPR's own (the dynamic linker takes the executable's first, for
// our libraries and FreeRDP's alike) and tell the sanitizer about the
// acquire and release around each real call.
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename F> F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

void EnterCriticalSection(void* section) {
    static auto enter = real<void (*)(void*)>("EnterCriticalSection");
    enter(section);
    __tsan_acquire(section);
}

int TryEnterCriticalSection(void* section) {
    static auto tryEnter = real<int (*)(void*)>("TryEnterCriticalSection");
    const int entered = tryEnter(section);
    if (entered)
        __tsan_acquire(section);
    return entered;
}

void LeaveCriticalSection(void* section) {
    static auto leave = real<void (*)(void*)>("LeaveCriticalSection");
    __tsan_release(section);
    leave(section);
}
}

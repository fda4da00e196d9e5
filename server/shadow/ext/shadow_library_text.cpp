#include "shadow_library_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <link.h>

namespace {

struct TextRange {
    uintptr_t begin = 0;
    uintptr_t end = 0;
};

int findShadowLibrary(dl_phdr_info* info, size_t, void* data) {
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libfreerdp-shadow3.so"))
        return 0;
    auto* range = static_cast<TextRange*>(data);
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X))
            continue;
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        const uintptr_t end = begin + segment.p_memsz;
        range->begin = range->begin ? std::min(range->begin, begin) : begin;
        range->end = std::max(range->end, end);
    }
    return 1;
}

} // namespace

bool shadow_ext_in_shadow_library(const void* address) {
    static const TextRange range = [] {
        TextRange found;
        dl_iterate_phdr(findShadowLibrary, &found);
        return found;
    }();
    const auto at = reinterpret_cast<uintptr_t>(address);
    return at >= range.begin && at < range.end;
}

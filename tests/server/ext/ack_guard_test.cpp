// ack-guard's contract on the loaded shadow library: the library's frame
// counter reaches the in-flight count through the dynamic linker (so ours
// stands in), and a count whose acknowledgement lies ahead of the frames sent
// reads as none in flight, while real counts pass unchanged.
#include <gtest/gtest.h>

#include <elf.h>
#include <link.h>

#include <cstring>
#include <string>

#include <freerdp/server/shadow.h>

#include "server/shadow/ext/hook_gate.h"

namespace {

// Whether the shared object whose path contains `object` calls `symbol`
// through its procedure linkage table, where an earlier definition wins.
bool callsThroughLinkageTable(const char* object, const char* symbol) {
    struct Search {
        const char* object;
        const char* symbol;
        bool found;
    } search{object, symbol, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !std::strstr(info->dlpi_name, s->object))
                return 0;
            const ElfW(Rela)* relocations = nullptr;
            size_t relocationBytes = 0;
            const ElfW(Sym)* symbols = nullptr;
            const char* names = nullptr;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                if (info->dlpi_phdr[i].p_type != PT_DYNAMIC)
                    continue;
                auto* d = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr +
                                                             info->dlpi_phdr[i].p_vaddr);
                for (; d->d_tag != DT_NULL; ++d) {
                    // The loader has already made these addresses absolute.
                    if (d->d_tag == DT_JMPREL)
                        relocations = reinterpret_cast<const ElfW(Rela)*>(d->d_un.d_ptr);
                    if (d->d_tag == DT_PLTRELSZ)
                        relocationBytes = d->d_un.d_val;
                    if (d->d_tag == DT_SYMTAB)
                        symbols = reinterpret_cast<const ElfW(Sym)*>(d->d_un.d_ptr);
                    if (d->d_tag == DT_STRTAB)
                        names = reinterpret_cast<const char*>(d->d_un.d_ptr);
                }
            }
            for (size_t i = 0; relocations && symbols && names &&
                               i < relocationBytes / sizeof(ElfW(Rela));
                 ++i) {
                const ElfW(Sym)& sym = symbols[ELF64_R_SYM(relocations[i].r_info)];
                s->found = s->found || std::strcmp(names + sym.st_name, s->symbol) == 0;
            }
            return 1;
        },
        &search);
    return search.found;
}

TEST(AckGuard, AStaleAcknowledgementCountsNoFramesInFlight) {
    if (shadow_ext_hook_unverified(SHADOW_EXT_ACK_GUARD))
        GTEST_SKIP() << "ack-guard is not verified on this FreeRDP";
    ASSERT_TRUE(callsThroughLinkageTable("libfreerdp-shadow3", "shadow_encoder_inflight_frames"))
        << "the library counts frames in flight without the dynamic linker: ours is never asked";

    // The library keeps the last frame sent and the last acknowledged as
    // neighbouring counters; an encoder made of steadily stepping words gives
    // every neighbouring pair the same difference, whatever their offset.
    struct Row {
        int step;         // each word minus the one before it
        UINT32 expected;  // frames in flight
    };
    const Row rows[] = {
        {+1, 0}, // acknowledged one ahead: the library's count wraps to 2^32 - 1
        {+40, 0},
        {0, 0},
        {-1, 1},
        {-3, 3},
    };
    for (const Row& row : rows) {
        UINT32 words[256];
        for (int i = 0; i < 256; ++i)
            words[i] = static_cast<UINT32>(100000 + row.step * i);
        EXPECT_EQ(shadow_encoder_inflight_frames(reinterpret_cast<rdpShadowEncoder*>(words)),
                  row.expected)
            << "step " << row.step;
    }
}

} // namespace

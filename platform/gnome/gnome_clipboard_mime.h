// The MIME types of mutter's remote-desktop clipboard and the pasteboard
// types they carry. The desktop announces its types in SelectionOwnerChanged
// and is read with SelectionRead; we announce ours with SetSelection and
// answer SelectionTransfer. Pure choices over lists already taken out of the
// D-Bus message.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pasteboard.h"

namespace corvane::platform::gnome {

// How the bytes of a text MIME type are encoded.
enum class GnomeTextEncoding {
    Utf8,
    Latin1, // X's STRING
};

struct GnomeMimeMeaning {
    PasteboardType type = PasteboardType::Text;
    GnomeTextEncoding encoding = GnomeTextEncoding::Utf8;
    bool operator==(const GnomeMimeMeaning&) const = default;
};

// What one MIME type carries; nothing for a type we do not take (another
// charset, HTML, a file list, an unknown picture format...). Matching ignores
// case and the spaces around a parameter.
std::optional<GnomeMimeMeaning> gnomeMimeMeaning(std::string_view mime);

// The PasteboardType mask of an announced list.
uint32_t gnomePasteboardTypes(const std::vector<std::string>& mimes);

// The announced MIME type that serves `type` best (UTF-8 text before the
// others), exactly as announced; nothing when no announced type serves it.
std::optional<std::string> gnomeMimeToRead(const std::vector<std::string>& mimes,
                                           PasteboardType type);

// The MIME types we announce for contents of `type`, best first.
std::vector<std::string> gnomeMimesToOffer(PasteboardType type);

// Latin-1 bytes as UTF-8 (every byte is a character, so this cannot fail).
std::vector<uint8_t> gnomeUtf8FromLatin1(const std::vector<uint8_t>& latin1);

} // namespace corvane::platform::gnome

// The Linux words for each kind of desktop the server shares: most texts are
// the same, those that name what the server goes through are not.
#pragma once
#include "app/core/words.h"

namespace corvane::app {

enum class LinuxDesktop { x11, gnome };

const char* linuxWords(Words words, LinuxDesktop desktop);

} // namespace corvane::app

#include "app/core/words.h"

namespace corvane::app {

std::string fillWords(std::string text, const std::string& name, const std::string& value) {
    const std::string placeholder = "{" + name + "}";
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

} // namespace corvane::app

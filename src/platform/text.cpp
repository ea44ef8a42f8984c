// Bounded text copy into fixed text buffers.
#include "text.h"

#include <algorithm>
#include <cstring>

void CopyText(char *destination, int size, std::string_view text) {
    if (!destination || size <= 0)
        return;
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

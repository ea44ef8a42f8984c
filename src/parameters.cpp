// Looking words up in the parameter table.
#include "parameters.h"

namespace parameters {

static_assert([] {
    for (int w = 0; w < kWords; ++w)
        if (kTable[w].word != w)
            return false;
    return true;
}());

int WordOf(std::string_view name) {
    for (const Parameter &p : kTable)
        if (name == p.name)
            return p.word;
    return -1;
}

std::string SettableNames() {
    std::string names;
    for (const Parameter &p : kTable)
        if (!p.sentAsZero)
            names += (names.empty() ? "" : ", ") + std::string(p.name);
    return names;
}

} // namespace parameters

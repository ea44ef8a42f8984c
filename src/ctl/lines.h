// The lines a command serves side by side without the panel (live, publish): each a line
// object on a COM number of its own, its status texts on standard error and in the trace,
// named when there are several. One process, one thread: each line goes at its own pace,
// and one that is silent, lost or slow delays none of the others.
#pragma once

#include "com232.h"
#include "options.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ctl {

struct ServedLine {
    std::string name; // as given, or taken from the port
    int com = 0;
    std::unique_ptr<com232::Line> line;
    // Its status texts go to the trace only, not to standard error (an attempt that fails
    // as the one before says nothing new).
    std::shared_ptr<bool> quiet = std::make_shared<bool>(false);
};

// --line NAME=DEVICE as given, else a publisher's config lines (line = NAME=DEVICE); none
// for the one port of --com.
std::vector<std::pair<std::string, std::string>> LinesOf(const Options &options);
// The COM number of the i-th of LinesOf (from 0): 1, 2, ...
constexpr int LineCom(std::size_t i) {
    return static_cast<int>(i) + 1;
}

// The lines of options as line objects: those of LinesOf, else one on --com named as
// LineName of the publisher's settings; their status texts go to the trace and its
// listener, the session's standard error (as "NAME: text" when there are several).
std::vector<ServedLine> ServeLines(const Options &options);

} // namespace ctl

// The lines of a command served side by side.
#include "lines.h"

#include "platform/trace.h"
#include "publish.h"

namespace ctl {

std::vector<std::pair<std::string, std::string>> LinesOf(const Options &options) {
    if (!options.lines.empty())
        return options.lines;
    if (options.command == "publish")
        return options.shared.publisher.lines;
    return {};
}

std::vector<ServedLine> ServeLines(const Options &options) {
    std::vector<ServedLine> served;
    const auto named = LinesOf(options);
    for (std::size_t i = 0; i < named.size(); ++i)
        served.push_back({named[i].first, LineCom(i), nullptr});
    if (served.empty())
        served.push_back(
            {publish::LineName(options.shared.publisher, options.com), options.com, nullptr});
    const bool several = served.size() > 1;
    for (ServedLine &line : served) {
        line.line               = std::make_unique<com232::Line>(line.com);
        const std::string label = several ? line.name + ": " : "";
        line.line->InstallSinks({
            .showStatus =
                [label](const char *text) {
                    if (label.empty())
                        TraceStatus(text);
                    else
                        TraceStatus((label + text).c_str());
                },
            .explainStatus  = {},
            .showParameters = {},
        });
    }
    return served;
}

} // namespace ctl

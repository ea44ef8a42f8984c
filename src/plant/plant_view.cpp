// A line's row in words and colour.
#include "plant/plant_view.h"

#include "colours.h"
#include "status.h"

#include <cstdio>

namespace plant {

namespace {

constexpr std::size_t kTrendPoints = 120; // more than the cell is wide has no use
constexpr int kHwmodeWord          = 5;
constexpr int kReferenceWord       = 1;

const char *CommandsWord(std::optional<Commands> commands) {
    if (!commands)
        return "not said";
    switch (*commands) {
    case Commands::Off:
        return "off";
    case Commands::Read:
        return "read";
    case Commands::Write:
        return "write";
    }
    return "not said";
}

std::string Joined(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Or(const std::string &text, const char *instead) {
    return text.empty() ? instead : text;
}

plantview::Cell Cell(std::string text, std::string accessible, std::string tip = {},
                     unsigned background = 0) {
    return {std::move(text), std::move(tip), std::move(accessible), background};
}

unsigned StatusColour(Status status) {
    switch (status) {
    case Status::Online:
        return colour::kOnlineBack;
    case Status::NoController:
        return colour::kAttentionBack;
    case Status::Offline:
        return colour::kOfflineBack;
    case Status::Unknown:
        break;
    }
    return 0;
}

std::string LineTip(const Row &row, double now) {
    const AgentInfo &info = row.info;
    std::string tip       = "Line " + row.name;
    if (!row.hasInfo)
        return tip + "\nIts agent has published no info.";
    tip += "\nHost: " + Or(info.host, "not said");
    tip += "\nAgent: " + Or(info.program + " " + info.version, "not said");
    if (!row.instance.empty())
        tip += ", instance " + row.instance;
    if (info.started > 0)
        tip += ", started " + ClockText(info.started, now);
    tip += "\nCommands: " + std::string(CommandsWord(info.commands));
    tip += "\nParameter server: " + Or(info.parameterServer, "not said");
    return tip;
}

std::string LiveWords(const Row &row, double now) {
    if (!row.hasLive)
        return "no live values";
    const com232::LiveReply &live = row.live;
    std::string text              = "NORM " + std::to_string(live.valNORM) + ", state LED 1 " +
                       (live.instate & 1 ? "on" : "off") + ", LED 2 " +
                       (live.instate & 2 ? "on" : "off");
    if (!row.trend.empty()) {
        double low = row.trend.front().value, high = low;
        for (const LivePoint &point : row.trend) {
            low  = std::min(low, point.value);
            high = std::max(high, point.value);
        }
        text += ", over the last " +
                Fixed(std::min(kTrendSeconds, now - row.trend.front().time), 0) + " s from " +
                Fixed(low, 0) + " to " + Fixed(high, 0);
    }
    return text + "; reply " + std::to_string(row.seq) + " of " + ClockText(row.liveTime, now);
}

std::string ApprovedTip(const Row &row, double now) {
    if (!row.hasParameters)
        return "The line's agent publishes nothing of an approved set.";
    const ParameterState &p = row.parameters;
    std::string tip         = "Parameter server: " + Or(p.mode, "not said");
    if (p.approvedFingerprint.empty() && p.match == Match::NoApproved)
        tip += "\nNo approved set.";
    else
        tip += "\nApproved set: " + Or(p.approvedFingerprint, "no fingerprint") +
               (p.approvedFirmware.empty() ? "" : ", firmware " + p.approvedFirmware) +
               (p.approvedStored > 0 ? ", stored " + ClockText(p.approvedStored, now) : "") +
               (p.approvedBy.empty() ? "" : " by " + p.approvedBy);
    tip += "\nEEPROM set: " + Or(p.eepromFingerprint, "not read");
    if (!p.lastRestore.empty())
        tip += "\nLast restore: " + p.lastRestore +
               (p.lastRestoreTime > 0 ? " at " + ClockText(p.lastRestoreTime, now) : "") +
               (p.lastRestoreText.empty() ? "" : ": " + p.lastRestoreText);
    return tip;
}

std::vector<double> TrendValues(const Row &row) {
    std::vector<double> values;
    const std::size_t count = row.trend.size();
    const std::size_t step  = count > kTrendPoints ? (count + kTrendPoints - 1) / kTrendPoints : 1;
    values.reserve(count / step + 1);
    for (std::size_t i = 0; i < count; i += step)
        values.push_back(row.trend[i].value);
    if (count > 0 && (count - 1) % step != 0)
        values.push_back(row.trend.back().value);
    return values;
}

} // namespace

plantview::Layout WindowLayout(const std::string &broker, const std::string &prefix) {
    plantview::Layout layout;
    layout.title   = "Plant - " + broker + " - " + prefix + "/";
    layout.headers = {"Line",      "Status",       "Firmware",   "Port",       "NORM, 30 s, LEDs",
                      "Replies/s", "Approved set", "Last event", "Last action"};
    layout.actions = {
        {"&Read", "Read",
         "Read the EEPROM set of each selected line and compare it with its approved set"},
        {"R&estore", "Restore",
         "Write the approved set of each selected line into its controller's EEPROM and RAM, "
         "read back (asks first)"},
        {"S&tore", "Store",
         "Make the controller's EEPROM set the approved set of each selected line (asks first)"},
        {"Re&port", "Report",
         "A commissioning report of each selected line into a folder you pick, as "
         "NAME-YYYYMMDD-HHMM.pdf"},
        {"&Live chart", "Live chart",
         "The live values of each selected line on strip charts, in a window of its own"},
        {"&Forget", "Forget",
         "Clear the retained topics of an offline line that was retired or mistyped (asks "
         "first)"},
    };
    layout.statusFilters = {"All lines", "Online", "No controller", "Offline",
                            "Differ from approved set"};
    return layout;
}

std::string StatusText(const Row &row, double now) {
    if (!row.hasStatus)
        return status::kLineUnknown;
    std::string text = row.status == Status::Online         ? status::kLineOnline
                       : row.status == Status::NoController ? status::kLineNoController
                                                            : status::kLineOffline;
    text += " " + SinceText(row, now);
    if (row.statusText.empty())
        return text;
    return text +
           (row.status == Status::Offline ? " (" + row.statusText + ")" : ": " + row.statusText);
}

std::string ApprovedText(const Row &row) {
    if (!row.hasParameters)
        return "-";
    switch (row.parameters.match) {
    case Match::Equal:
        return "equal";
    case Match::Differs:
        return row.parameters.differs.empty() ? "differs"
                                              : "differs: " + Joined(row.parameters.differs);
    case Match::NoApproved:
        return "none";
    case Match::Unknown:
        break;
    }
    return "not known";
}

std::string EventText(const Row &row, double now) {
    if (row.event.empty())
        return {};
    return ClockText(row.eventTime, now) + " " + row.event +
           (row.eventText.empty() ? "" : ": " + row.eventText);
}

std::string ResultText(const Row &row) {
    if (row.result.verb.empty())
        return {};
    return row.result.verb + ": " + row.result.text;
}

plantview::RowCells CellsOf(const Row &row, double now) {
    plantview::RowCells cells;
    auto &c                 = cells.cells;
    const AgentInfo &info   = row.info;
    const std::string port  = info.port + (info.device.empty() ? "" : " " + info.device);
    const double rate       = RepliesPerSecond(row, now);
    c[0]                    = Cell(row.name, "Line " + row.name, LineTip(row, now));
    const std::string state = StatusText(row, now);
    c[1]                    = Cell(state, "Status: " + state, state, StatusColour(row.status));
    c[2] = Cell(Or(info.firmware, "-"), "Firmware: " + Or(info.firmware, "not known"));
    c[3] = Cell(Or(port, "-"), "Port: " + Or(port, "not known"));
    const std::string live = LiveWords(row, now);
    c[4]                   = Cell(row.hasLive ? std::to_string(row.live.valNORM) : "-", live, live);
    c[5]                   = Cell(Fixed(rate, 1), Fixed(rate, 1) + " replies a second",
                                  "Replies a second over the last 2 s, counted by the replies' numbers");
    const std::string approved  = ApprovedText(row);
    c[6]                        = Cell(approved, "Approved set: " + approved, ApprovedTip(row, now),
                row.hasParameters && row.parameters.match == Match::Differs ? colour::kAttentionBack
                                                                                                   : 0);
    const std::string event     = EventText(row, now);
    c[7]                        = Cell(event, "Last event: " + Or(event, "none"), event);
    const CommandResult &result = row.result;
    const std::string done      = ResultText(row);
    const std::string code      = result.pending || result.verb.empty()
                                      ? std::string()
                                      : "exit code " + std::to_string(result.exitCode) + ": " +
                                       status::ExitCodeMeaning(result.exitCode);
    c[8]                        = Cell(
                               done, "Last action: " + Or(done, "none") + (code.empty() ? "" : ", " + code),
        done.empty()
                                   ? ""
                                   : done + "\n" + (code.empty() ? "" : code + "\n") + "at " + ClockText(result.time, now),
        !result.pending && !result.verb.empty() && result.exitCode != 0 ? colour::kFailedBack : 0);
    cells.trend.values = TrendValues(row);
    cells.trend.leds   = row.hasLive ? row.live.instate & 3 : -1;
    for (int i = 0; i < kActionCount; ++i) {
        const Allowed allowed = Allows(row, static_cast<Action>(i), now);
        cells.actions.push_back({allowed.ok, allowed.why});
    }
    if (row.hasLive)
        cells.shown = row.name + " " + std::to_string(row.seq) + " " + Fixed(row.liveTime, 3);
    return cells;
}

plantview::LiveSample SampleOf(const Row &row) {
    const com232::LiveReply &live = row.live;
    const int hwmode              = row.info.hasRam ? row.info.ram[kHwmodeWord] : 1;
    const double reference        = (row.info.hasRam && (hwmode == 0 || hwmode == 2))
                                        ? row.info.ram[kReferenceWord]
                                        : live.refval;
    return {static_cast<double>(live.valNORM),
            reference,
            static_cast<double>(live.UPval),
            static_cast<double>(live.LOval),
            static_cast<double>(live.adcCHA),
            static_cast<double>(live.adcCHB),
            static_cast<double>(live.Amax),
            static_cast<double>(live.Amin),
            live.instate};
}

} // namespace plant

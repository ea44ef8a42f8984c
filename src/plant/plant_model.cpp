// The plant's rows from the agents' messages; what each row allows; summary, sorting and
// filtering.
#include "plant/plant_model.h"

#include "parameters.h"
#include "platform/json/json.h"
#include "status.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <fnmatch.h>
#include <tuple>

namespace plant {

namespace {

constexpr long long kLargestWord = 65535;
// The plain words of a status topic as publishers before the JSON status wrote it.
constexpr std::string_view kPlainNoController = "no-controller: ";

const json::Value *Member(const json::Value &object, std::string_view key) {
    return object.IsObject() ? object.Find(key) : nullptr;
}

std::string Text(const json::Value &object, std::string_view key) {
    const json::Value *value = Member(object, key);
    return value && value->IsString() ? value->text : std::string();
}

// A time member: Unix seconds, or false when it is missing, null or no time.
bool TimeOf(const json::Value &object, std::string_view key, double &time) {
    const json::Value *value = Member(object, key);
    if (!value || !value->IsNumber() || !std::isfinite(value->number) || value->number < 0)
        return false;
    time = value->number;
    return true;
}

// Sixteen words of a "words" member; false unless it is exactly that.
bool WordsOf(const json::Value *value, com232::Words &words) {
    if (!value || !value->IsArray() || value->items.size() != words.size())
        return false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        long long word = 0;
        if (!value->items[i].WholeNumber(0, kLargestWord, word))
            return false;
        words[i] = static_cast<std::uint16_t>(word);
    }
    return true;
}

std::optional<Commands> CommandsOf(const std::string &text) {
    if (text == "off")
        return Commands::Off;
    if (text == "read")
        return Commands::Read;
    if (text == "write")
        return Commands::Write;
    return std::nullopt;
}

const char *StatusWord(Status status) {
    switch (status) {
    case Status::Online:
        return status::kLineOnline;
    case Status::NoController:
        return status::kLineNoController;
    case Status::Offline:
        return status::kLineOffline;
    case Status::Unknown:
        break;
    }
    return status::kLineUnknown;
}

std::string Joined(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

// A status message as read: the JSON of the agents, or the plain words that publishers
// wrote before ("online", "offline", "no-controller: TEXT").
struct StatusMessage {
    std::string word; // online, no-controller, offline, conflict
    std::string text, instance, other;
    double time   = 0;
    bool hasTime  = false;
    bool readable = false;
};

StatusMessage ReadStatus(std::string_view payload) {
    StatusMessage read;
    if (payload == "online" || payload == "offline") {
        read.word     = std::string(payload);
        read.readable = true;
        return read;
    }
    if (payload.starts_with(kPlainNoController)) {
        read.word     = "no-controller";
        read.text     = std::string(payload.substr(kPlainNoController.size()));
        read.readable = true;
        return read;
    }
    json::Value object;
    std::string error;
    if (!json::Parse(payload, object, error) || !object.IsObject())
        return read;
    read.word     = Text(object, "status");
    read.text     = Text(object, "text");
    read.instance = Text(object, "instance");
    read.other    = Text(object, "other");
    read.hasTime  = TimeOf(object, "time", read.time);
    read.readable = read.word == "online" || read.word == "no-controller" ||
                    read.word == "offline" || read.word == "conflict";
    return read;
}

Status StatusOfWord(const std::string &word) {
    if (word == "online")
        return Status::Online;
    if (word == "no-controller")
        return Status::NoController;
    return Status::Offline;
}

int StatusRank(Status status) {
    switch (status) {
    case Status::Online:
        return 0;
    case Status::NoController:
        return 1;
    case Status::Offline:
        return 2;
    case Status::Unknown:
        break;
    }
    return 3;
}

// Ascending shows the lines that need a look first.
int MatchRank(const Row &row) {
    if (!row.hasParameters)
        return 4;
    switch (row.parameters.match) {
    case Match::Differs:
        return 0;
    case Match::Unknown:
        return 1;
    case Match::NoApproved:
        return 2;
    case Match::Equal:
        break;
    }
    return 3;
}

bool ContainsFolded(std::string_view text, std::string_view part) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(text.begin(), text.end(), part.begin(), part.end(), same) != text.end();
}

} // namespace

bool SplitTopic(std::string_view prefix, std::string_view topic, Topic &split) {
    if (topic.size() <= prefix.size() + 1 || !topic.starts_with(prefix) ||
        topic[prefix.size()] != '/')
        return false;
    topic.remove_prefix(prefix.size() + 1);
    const std::size_t slash = topic.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == topic.size() ||
        topic.find('/', slash + 1) != std::string_view::npos)
        return false;
    split.line = std::string(topic.substr(0, slash));
    split.leaf = std::string(topic.substr(slash + 1));
    return true;
}

// --- Rows ---

namespace {

bool ReadInfo(Row &row, const json::Value &object) {
    AgentInfo info;
    info.firmware        = Text(object, "firmware");
    info.port            = Text(object, "port");
    info.device          = Text(object, "device");
    info.host            = Text(object, "host");
    info.program         = Text(object, "program");
    info.version         = Text(object, "version");
    info.commands        = CommandsOf(Text(object, "commands"));
    info.parameterServer = Text(object, "parameter_server");
    TimeOf(object, "started", info.started);
    if (const json::Value *ram = Member(object, "ram"); ram && ram->IsObject()) {
        info.hasRam = true;
        for (int i = 0; i < com232::PNUM; ++i) {
            const json::Value *word = ram->Find(parameters::kTable[i].name);
            long long value         = 0;
            info.hasRam = info.hasRam && word && word->WholeNumber(0, kLargestWord, value);
            info.ram[i] = static_cast<std::uint16_t>(value);
        }
    }
    if (const std::string instance = Text(object, "instance"); !instance.empty())
        row.instance = instance;
    row.hasInfo = true;
    row.info    = std::move(info);
    return true;
}

bool ReadParameters(Row &row, const json::Value &object, Applied &applied) {
    ParameterState read;
    read.mode              = Text(object, "mode");
    const json::Value *set = Member(object, "approved");
    const bool approved    = set && set->IsObject();
    if (approved) {
        read.approvedFingerprint = Text(*set, "fingerprint");
        read.approvedFirmware    = Text(*set, "firmware");
        read.approvedBy          = Text(*set, "by");
        TimeOf(*set, "stored", read.approvedStored);
        read.hasApprovedWords = WordsOf(set->Find("words"), read.approvedWords);
    }
    if (const json::Value *eeprom = Member(object, "eeprom"); eeprom && eeprom->IsObject()) {
        read.eepromFingerprint = Text(*eeprom, "fingerprint");
        read.hasEepromWords    = WordsOf(eeprom->Find("words"), read.eepromWords);
    }
    if (const json::Value *differs = Member(object, "differs"); differs && differs->IsArray())
        for (const json::Value &word : differs->items)
            if (word.IsString())
                read.differs.push_back(word.text);
    const json::Value *match = Member(object, "match");
    if (!approved)
        read.match = Match::NoApproved;
    else if (match && match->kind == json::Kind::Bool)
        read.match = match->boolean ? Match::Equal : Match::Differs;
    if (const json::Value *restore = Member(object, "last_restore");
        restore && restore->IsObject()) {
        read.lastRestore     = Text(*restore, "result");
        read.lastRestoreText = Text(*restore, "text");
        TimeOf(*restore, "time", read.lastRestoreTime);
    }
    if (row.hasParameters && read.match != row.parameters.match) {
        if (read.match == Match::Differs)
            applied.note = row.name + ": its EEPROM set differs from its approved set" +
                           (read.differs.empty() ? "" : " (" + Joined(read.differs) + ")");
        else if (read.match == Match::Equal)
            applied.note = row.name + ": its EEPROM set equals its approved set";
    }
    row.hasParameters = true;
    row.parameters    = std::move(read);
    return true;
}

bool ReadLive(Row &row, const json::Value &object, double arrival) {
    static constexpr const char *kNames[] = {"valNORM", "adcCHA", "adcCHB", "Amax",   "Amin",
                                             "UPval",   "LOval",  "refval", "instate"};
    long long values[std::size(kNames)]   = {};
    long long seq                         = 0;
    const json::Value *sequence           = Member(object, "seq");
    if (!sequence || !sequence->WholeNumber(0, (1LL << 53), seq))
        return false;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const json::Value *value = Member(object, kNames[i]);
        if (!value || !value->WholeNumber(0, kLargestWord, values[i]))
            return false;
    }
    double time = arrival;
    TimeOf(object, "time", time);
    com232::LiveReply &live = row.live;
    live.valNORM            = static_cast<std::int32_t>(values[0]);
    live.adcCHA             = static_cast<std::uint16_t>(values[1]);
    live.adcCHB             = static_cast<std::uint16_t>(values[2]);
    live.Amax               = static_cast<std::uint16_t>(values[3]);
    live.Amin               = static_cast<std::uint16_t>(values[4]);
    live.UPval              = static_cast<std::uint16_t>(values[5]);
    live.LOval              = static_cast<std::uint16_t>(values[6]);
    live.refval             = static_cast<std::uint16_t>(values[7]);
    live.instate            = static_cast<std::uint16_t>(values[8]);
    // A number that goes back is a publisher started again: its trend starts anew.
    if (row.hasLive && seq <= row.seq)
        row.trend.clear();
    row.hasLive     = true;
    row.seq         = seq;
    row.liveTime    = time;
    row.liveArrival = arrival;
    row.trend.push_back({time, static_cast<double>(live.valNORM), seq});
    while (row.trend.front().time < time - kTrendSeconds)
        row.trend.pop_front();
    return true;
}

bool ReadEvent(Row &row, const json::Value &object, double arrival, Applied &applied) {
    const std::string event = Text(object, "event");
    if (event.empty())
        return false;
    row.event     = event;
    row.eventText = Text(object, "text");
    if (!TimeOf(object, "time", row.eventTime))
        row.eventTime = arrival;
    applied.note = row.name + ": " + event + (row.eventText.empty() ? "" : ": " + row.eventText);
    return true;
}

// A status from another instance than the line's own is an earlier agent's last will, sent
// by the broker after a newer agent took the name over: it says nothing of the line now.
bool ReadStatusInto(Row &row, const StatusMessage &message, double arrival, Applied &applied) {
    if (!message.readable)
        return false;
    if (message.word == "conflict") {
        row.event = "conflict";
        row.eventText =
            message.text + (message.other.empty() ? "" : " (other instance " + message.other + ")");
        row.eventTime = message.hasTime ? message.time : arrival;
        applied.note  = row.name + ": conflict: " + row.eventText;
        return true;
    }
    const Status status = StatusOfWord(message.word);
    if (status == Status::Offline && !message.instance.empty() && !row.instance.empty() &&
        message.instance != row.instance) {
        applied.note = row.name + ": the last will of an earlier agent (instance " +
                       message.instance + ") was left out";
        return true;
    }
    if (!message.instance.empty())
        row.instance = message.instance;
    const bool changed = !row.hasStatus || status != row.status || message.text != row.statusText;
    if (row.hasStatus && changed)
        applied.note = row.name + ": " + StatusWord(row.status) + " -> " + StatusWord(status) +
                       (message.text.empty() ? "" : " (" + message.text + ")");
    if (!row.hasStatus || status != row.status) {
        row.since      = message.hasTime ? message.time : arrival;
        row.sinceExact = message.hasTime;
    }
    applied.statusChanged = changed;
    row.hasStatus         = true;
    row.status            = status;
    row.statusText        = message.text;
    return true;
}

// An empty retained payload clears that topic of the line.
void Clear(Row &row, std::string_view leaf) {
    if (leaf == kInfo) {
        row.hasInfo = false;
        row.info    = {};
    } else if (leaf == kStatus) {
        row.hasStatus = false;
        row.status    = Status::Unknown;
        row.statusText.clear();
    } else {
        row.hasParameters = false;
        row.parameters    = {};
    }
}

bool Retained(std::string_view leaf) {
    return leaf == kInfo || leaf == kStatus || leaf == kParameters;
}

} // namespace

const Row *Model::Find(const std::string &name) const {
    const auto found = rows_.find(name);
    return found == rows_.end() ? nullptr : &found->second;
}

bool Model::SetResult(const std::string &name, const CommandResult &result) {
    const auto found = rows_.find(name);
    if (found == rows_.end())
        return false;
    found->second.result = result;
    return true;
}

Applied Model::Apply(std::string_view topic, std::string_view payload, double arrival) {
    Applied applied;
    Topic split;
    if (!SplitTopic(prefix_, topic, split))
        return applied;
    const std::string &leaf = split.leaf;
    const bool retained     = Retained(leaf);
    if (!retained && leaf != kLive && leaf != kEvent)
        return applied;
    auto found = rows_.find(split.line);
    if (found == rows_.end() && (!retained || payload.empty()))
        return applied; // values of a line no retained topic has named yet
    applied.line  = split.line;
    applied.taken = true;
    if (payload.empty()) {
        Row &row = found->second;
        Clear(row, leaf);
        applied.orderChanged = true;
        if (!row.hasInfo && !row.hasStatus && !row.hasParameters) {
            rows_.erase(found);
            applied.removed = true;
            applied.note    = split.line + " is forgotten: its retained topics were cleared";
        }
        return applied;
    }
    if (found == rows_.end()) {
        found              = rows_.emplace(split.line, Row{}).first;
        found->second.name = split.line;
        applied.added      = true;
    }
    Row &row  = found->second;
    bool read = false;
    if (payload.size() <= kMaxMessage) {
        if (leaf == kStatus) {
            read = ReadStatusInto(row, ReadStatus(payload), arrival, applied);
        } else {
            json::Value object;
            std::string error;
            if (json::Parse(payload, object, error) && object.IsObject()) {
                if (leaf == kLive)
                    read = ReadLive(row, object, arrival);
                else if (leaf == kInfo)
                    read = ReadInfo(row, object);
                else if (leaf == kParameters)
                    read = ReadParameters(row, object, applied);
                else
                    read = ReadEvent(row, object, arrival, applied);
            }
        }
    }
    applied.live         = leaf == kLive;
    applied.orderChanged = !applied.live;
    if (!read) {
        if (row.ignored++ == 0)
            applied.note = split.line + ": a " + leaf +
                           " message not in the agreed form was left out (and any more like it)";
        applied.taken = false;
    }
    return applied;
}

double RepliesPerSecond(const Row &row, double now) {
    if (!row.hasLive || row.trend.size() < 2 || now - row.liveArrival > kLiveStaleSeconds)
        return 0;
    const LivePoint &last = row.trend.back();
    auto first =
        std::lower_bound(row.trend.begin(), row.trend.end(), last.time - kRateSeconds,
                         [](const LivePoint &point, double time) { return point.time < time; });
    if (first == row.trend.end() - 1)
        --first; // sparse messages (every Nth published): the one before
    const double seconds = last.time - first->time;
    return seconds > 0 && last.seq > first->seq ? (last.seq - first->seq) / seconds : 0;
}

// --- Actions ---

const char *VerbOf(Action action) {
    switch (action) {
    case Action::Read:
        return "diff";
    case Action::Restore:
        return "restore";
    case Action::Store:
        return "store";
    case Action::Report:
        return "report";
    case Action::Chart:
    case Action::Forget:
        break;
    }
    return nullptr;
}

bool Writes(Action action) {
    return action == Action::Restore || action == Action::Store;
}

Allowed Allows(const Row &row, Action action, double now) {
    const auto no = [](std::string why) { return Allowed{false, std::move(why)}; };
    if (action == Action::Forget)
        return row.status == Status::Offline || (!row.hasStatus && !row.hasLive)
                   ? Allowed{}
                   : no(status::kOnlyOfflineForgotten);
    if (row.status == Status::Offline)
        return no(status::LineOfflineSince(SinceText(row, now)));
    if (action == Action::Chart)
        return {};
    if (row.result.pending)
        return no(status::WaitingForAnswer(row.result.verb));
    if (!row.hasStatus)
        return no(status::kStatusUnknown);
    if (!row.info.commands)
        return no(status::kCommandsUnknown);
    if (row.info.commands == Commands::Off)
        return no(status::kTakesNoCommands);
    if (Writes(action) && row.info.commands == Commands::Read)
        return no(status::kTakesReadOnly);
    if (row.status == Status::NoController)
        return no(status::NoControllerOnLine(row.statusText));
    if (action == Action::Restore && !row.hasParameters)
        return no(status::kApprovedUnknown);
    if (action == Action::Restore && row.parameters.match == Match::NoApproved)
        return no(status::kNoApprovedSet);
    return {};
}

// --- Views ---

std::string ClockText(double time, double now) {
    const auto local = [](double seconds) {
        const std::time_t whole = static_cast<std::time_t>(seconds);
        std::tm parts{};
        localtime_r(&whole, &parts);
        return parts;
    };
    const std::tm at = local(time), today = local(now);
    char text[32];
    const bool sameDay = at.tm_year == today.tm_year && at.tm_yday == today.tm_yday;
    std::strftime(text, sizeof text, sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &at);
    return text;
}

std::string SinceText(const Row &row, double now) {
    return "since " + ClockText(row.since, now) + (row.sinceExact ? "" : " or before");
}

std::string Summary(const std::map<std::string, Row> &rows) {
    int counts[4] = {}, differ = 0;
    for (const auto &[name, row] : rows) {
        ++counts[StatusRank(row.status)];
        differ += row.hasParameters && row.parameters.match == Match::Differs;
    }
    const auto count = [](int n, const char *what) { return std::to_string(n) + " " + what; };
    std::string text = count(static_cast<int>(rows.size()), rows.size() == 1 ? "line" : "lines");
    if (rows.empty())
        return text;
    text += ": " + count(counts[0], status::kLineOnline) + ", " +
            count(counts[1], status::kLineNoController) + ", " +
            count(counts[2], status::kLineOffline);
    if (counts[3] > 0)
        text += ", " + count(counts[3], status::kLineUnknown);
    if (differ == 0)
        return text + "; none differs from its approved set";
    return text + "; " + std::to_string(differ) +
           (differ == 1 ? " differs from its approved set" : " differ from their approved set");
}

bool Matches(const Row &row, const Filter &filter) {
    const std::string &pattern = filter.name;
    if (pattern.find_first_of("*?[") != std::string::npos) {
        if (fnmatch(pattern.c_str(), row.name.c_str(), FNM_CASEFOLD) != 0)
            return false;
    } else if (!ContainsFolded(row.name, pattern)) {
        return false;
    }
    switch (filter.status) {
    case StatusFilter::All:
        return true;
    case StatusFilter::Online:
        return row.status == Status::Online;
    case StatusFilter::NoController:
        return row.status == Status::NoController;
    case StatusFilter::Offline:
        return row.status == Status::Offline;
    case StatusFilter::Differs:
        return row.hasParameters && row.parameters.match == Match::Differs;
    }
    return true;
}

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j]));
        if (digitA && digitB) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && a[endA] == '0')
                ++endA;
            while (endB < b.size() && b[endB] == '0')
                ++endB;
            std::size_t startA = endA, startB = endB;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])))
                ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])))
                ++endB;
            const std::string_view numberA = a.substr(startA, endA - startA);
            const std::string_view numberB = b.substr(startB, endB - startB);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA, j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i, ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

bool Before(const Row &a, const Row &b, Column column, double now) {
    const auto then = [&](auto keyA, auto keyB) {
        if (keyA != keyB)
            return keyA < keyB;
        return NaturalLess(a.name, b.name);
    };
    switch (column) {
    case Column::Name:
        return NaturalLess(a.name, b.name);
    case Column::Status:
        return then(std::tuple(StatusRank(a.status), a.since),
                    std::tuple(StatusRank(b.status), b.since));
    case Column::Firmware:
        return then(a.info.firmware, b.info.firmware);
    case Column::Port:
        if (a.info.port != b.info.port)
            return NaturalLess(a.info.port, b.info.port);
        return then(a.info.device, b.info.device);
    case Column::Value:
        return then(std::tuple(!a.hasLive, a.live.valNORM), std::tuple(!b.hasLive, b.live.valNORM));
    case Column::Rate:
        return then(RepliesPerSecond(a, now), RepliesPerSecond(b, now));
    case Column::Approved:
        return then(MatchRank(a), MatchRank(b));
    case Column::Event:
        return then(a.eventTime, b.eventTime);
    case Column::Result:
        return then(a.result.time, b.result.time);
    }
    return false;
}

} // namespace plant

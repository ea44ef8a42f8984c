// The plant window's driver: the broker link feeds the model, the model the window's rows,
// ten times a second; the window's actions become the agents' commands.
#include "plant/plant_seat.h"

#include "parameters.h"
#include "plant/audit.h"
#include "plant/plant_link.h"
#include "plant/plant_report.h"
#include "plant/plant_view.h"
#include "platform/files/project_dir.h"
#include "platform/panel/events.h"
#include "platform/plant/plant_window.h"
#include "platform/text.h"

#include <algorithm>
#include <map>
#include <set>

namespace plant {

namespace {

// A sort by the live value or by the rate is done again this often, not at every value.
constexpr double kResortSeconds = 1.0;
// Rows whose own messages did not change them still age (a rate falls to 0): all are asked
// for again this often, those on screen repainted.
constexpr double kRefreshSeconds        = 1.0;
constexpr std::size_t kMostCharts       = 8;
constexpr std::size_t kShownFingerprint = 12; // hex digits of a fingerprint in a question

std::string Joined(const std::vector<std::string> &items, const char *separator = ", ") {
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : separator) + item;
    return text;
}

std::string Short(const std::string &fingerprint) {
    return fingerprint.size() > kShownFingerprint ? fingerprint.substr(0, kShownFingerprint) + "..."
                                                  : fingerprint;
}

// "power 640 -> 500, hold 100 -> 120": the words that change from one set to the other.
std::string Changes(const com232::Words &from, const com232::Words &to) {
    std::vector<std::string> changes;
    for (int i = 0; i < com232::PNUM; ++i)
        if (from[i] != to[i])
            changes.push_back(std::string(parameters::kTable[i].name) + " " +
                              std::to_string(from[i]) + " -> " + std::to_string(to[i]));
    return changes.empty() ? "nothing changes" : Joined(changes);
}

// What a restore writes on one line: the approved set, and the words it changes in EEPROM
// and in RAM as far as the line has told them.
std::string RestoreLine(const Row &row, double now) {
    const ParameterState &p = row.parameters;
    std::string text        = row.name + ": approved set " + Short(p.approvedFingerprint);
    if (!p.approvedFirmware.empty())
        text += ", firmware " + p.approvedFirmware;
    if (p.approvedStored > 0)
        text += ", stored " + ClockText(p.approvedStored, now) +
                (p.approvedBy.empty() ? "" : " by " + p.approvedBy);
    if (p.hasApprovedWords && p.hasEepromWords)
        text += "\n    EEPROM: " + Changes(p.eepromWords, p.approvedWords);
    else if (!p.differs.empty())
        text += "\n    EEPROM differs in " + Joined(p.differs);
    if (p.hasApprovedWords && row.info.hasRam)
        text += "\n    RAM: " + Changes(row.info.ram, p.approvedWords);
    return text;
}

std::string StoreLine(const Row &row) {
    const ParameterState &p = row.parameters;
    std::string text        = row.name + ": the EEPROM set " + Short(p.eepromFingerprint);
    if (p.match == Match::NoApproved || p.approvedFingerprint.empty())
        return text + " becomes its first approved set";
    text += " replaces the approved set " + Short(p.approvedFingerprint);
    if (p.hasApprovedWords && p.hasEepromWords)
        text += "\n    " + Changes(p.approvedWords, p.eepromWords);
    return text;
}

std::string ForgetLine(const Row &row, double now) {
    return row.name + ": " + StatusText(row, now) +
           (row.info.host.empty() ? "" : ", host " + row.info.host);
}

} // namespace

// The window of one seat, its broker link and model, and what its actions wait for.
class Seat {
  public:
    Seat(const publish::Settings &settings, std::function<void()> closing)
        : model_(settings.prefix), link_(model_), broker_(settings.broker),
          closing_(std::move(closing)) {}

    bool Start(const publish::Settings &settings, std::string &error);
    void Raise() { window_->Raise(); }

  private:
    plantview::RowCells CellsOfKey(const std::string &key);
    void Tick();
    void Sort(int column, bool descending);
    void Filter(const std::string &name, int status);
    void Act(int index, const std::vector<std::string> &keys);
    void Confirmed(Action action, const std::vector<std::string> &keys);
    void Send(Action action, const std::vector<std::string> &keys, const std::string &folder);
    void OpenCharts(const std::vector<std::string> &keys);
    void Took(const Applied &applied);
    void Ended(const LineResult &result);
    void Log(const std::string &text);
    std::vector<std::string> Order(double now) const;
    std::string SummaryLine() const;
    std::string ActionName(Action action) const { return layout_.actions[int(action)].name; }

    Model model_;
    Link link_;
    std::string broker_;
    std::function<void()> closing_; // the operator closed the window
    plantview::Layout layout_;
    std::unique_ptr<plantview::PlantWindow> window_;
    Column sortColumn_ = Column::Name;
    bool descending_   = false;
    plant::Filter filter_;
    std::set<std::string> dirty_;
    bool orderStale_    = true;
    double sortedAt_    = 0;
    double refreshedAt_ = 0;
    std::map<std::string, std::string> reportFolders_; // lines whose report is awaited
    std::map<std::string, std::unique_ptr<plantview::LiveChart>> charts_;
};

bool Seat::Start(const publish::Settings &settings, std::string &error) {
    link_.SetEvents({[this](const Applied &applied) { Took(applied); },
                     [this](const LineResult &result) { Ended(result); },
                     [this](const std::string &note) { Log(note); }});
    if (!link_.Start(settings, error))
        return false;
    layout_ = WindowLayout(broker_, model_.Prefix());
    plantview::Callbacks callbacks;
    callbacks.row    = [this](const std::string &key) { return CellsOfKey(key); };
    callbacks.tick   = [this] { Tick(); };
    callbacks.sort   = [this](int column, bool descending) { Sort(column, descending); };
    callbacks.filter = [this](const std::string &name, int status) { Filter(name, status); };
    callbacks.act = [this](int action, const std::vector<std::string> &keys) { Act(action, keys); };
    callbacks.closed = [this] { closing_(); };
    window_          = std::make_unique<plantview::PlantWindow>(layout_, std::move(callbacks));
    window_->SetSummary("Connecting to " + broker_ + " ...");
    window_->Show();
    Log("connecting to " + broker_ + " for the lines under " + model_.Prefix() + "/");
    return true;
}

plantview::RowCells Seat::CellsOfKey(const std::string &key) {
    const Row *row = model_.Find(key);
    if (!row) {
        plantview::RowCells gone;
        gone.cells[0].text = key;
        gone.actions.assign(kActionCount, {false, "the line has gone"});
        return gone;
    }
    return CellsOf(*row, publish::UnixNow());
}

std::vector<std::string> Seat::Order(double now) const {
    std::vector<const Row *> rows;
    for (const auto &[name, row] : model_.Rows())
        if (Matches(row, filter_))
            rows.push_back(&row);
    std::stable_sort(rows.begin(), rows.end(), [&](const Row *a, const Row *b) {
        return descending_ ? Before(*b, *a, sortColumn_, now) : Before(*a, *b, sortColumn_, now);
    });
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    for (const Row *row : rows)
        keys.push_back(row->name);
    return keys;
}

std::string Seat::SummaryLine() const {
    const std::string summary = Summary(model_.Rows());
    if (link_.BrokerState() == mqtt::State::Connected)
        return link_.RetainedComplete() ? summary : summary + " (still reading the broker)";
    const std::string why = link_.LastError().empty() ? "" : ": " + link_.LastError();
    return "Connecting to " + broker_ + why + " - " + summary + " as last known";
}

void Seat::Tick() {
    link_.Tick();
    const double now  = publish::UnixNow();
    const bool timely = sortColumn_ == Column::Value || sortColumn_ == Column::Rate;
    if (now - refreshedAt_ >= kRefreshSeconds) {
        refreshedAt_ = now;
        for (const auto &[name, row] : model_.Rows())
            dirty_.insert(name);
        window_->SetSummary(SummaryLine());
        for (const auto &[name, chart] : charts_)
            if (const Row *row = model_.Find(name))
                chart->SetCaption(name + " - " + StatusText(*row, now) + " - " +
                                  std::to_string(RepliesPerSecond(*row, now)).substr(0, 4) +
                                  " replies a second");
    }
    if (orderStale_ || (timely && now - sortedAt_ >= kResortSeconds)) {
        orderStale_ = false;
        sortedAt_   = now;
        window_->SetOrder(Order(now));
        window_->SetSummary(SummaryLine());
    }
    if (!dirty_.empty()) {
        window_->Changed(std::vector<std::string>(dirty_.begin(), dirty_.end()));
        dirty_.clear();
    }
}

void Seat::Sort(int column, bool descending) {
    sortColumn_ = static_cast<Column>(std::clamp(column, 0, kColumnCount - 1));
    descending_ = descending;
    orderStale_ = true;
}

void Seat::Filter(const std::string &name, int status) {
    filter_.name   = name;
    filter_.status = static_cast<StatusFilter>(std::clamp(status, 0, 4));
    orderStale_    = true;
}

void Seat::Log(const std::string &text) {
    const double now = publish::UnixNow();
    window_->Log(ClockText(now, now) + "  " + text);
}

// The lines that allow the action go on; the others are named with their reasons. Writes
// and forgetting ask first, naming each line and what will be written.
void Seat::Act(int index, const std::vector<std::string> &keys) {
    const auto action = static_cast<Action>(index);
    const double now  = publish::UnixNow();
    std::vector<std::string> taken, refused, lines;
    for (const std::string &key : keys) {
        const Row *row = model_.Find(key);
        if (!row)
            continue;
        if (const Allowed allowed = Allows(*row, action, now); !allowed.ok) {
            refused.push_back(key + ": " + allowed.why);
            continue;
        }
        taken.push_back(key);
        if (action == Action::Restore)
            lines.push_back(RestoreLine(*row, now));
        else if (action == Action::Store)
            lines.push_back(StoreLine(*row));
        else if (action == Action::Forget)
            lines.push_back(ForgetLine(*row, now));
    }
    if (!refused.empty())
        Log(ActionName(action) + " not for " + Joined(refused, "; "));
    if (taken.empty())
        return;
    const std::string count =
        std::to_string(taken.size()) + (taken.size() == 1 ? " line" : " lines");
    const std::string others = refused.empty() ? "" : "\n\nNot for:\n" + Joined(refused, "\n");
    const auto ask           = [&](const std::string &title, const std::string &question) {
        window_->Ask(title, question + "\n\n" + Joined(lines, "\n") + others,
                               [this, action, taken](bool yes) {
                         if (yes)
                             Confirmed(action, taken);
                         else
                             Log(ActionName(action) + " cancelled");
                     });
    };
    switch (action) {
    case Action::Restore:
        ask("Restore the approved set",
            "Restore the approved set of " + count +
                "? Each line's agent writes it into its controller's EEPROM and RAM and reads "
                "it back.");
        break;
    case Action::Store:
        ask("Store the approved set", "Store the EEPROM set as the approved set of " + count +
                                          "? Each line's agent makes its controller's EEPROM "
                                          "set the approved set.");
        break;
    case Action::Forget:
        ask("Forget offline lines",
            "Forget " + count +
                "? Their retained topics (info, status, parameters) are cleared on the "
                "broker, and they leave the plant until their agents publish again.");
        break;
    case Action::Report: {
        char folder[kPathSize] = {};
        GetProjectDir(folder);
        window_->ChooseFolder("Folder for the reports", folder,
                              [this, taken](const std::string &chosen) {
                                  if (chosen.empty())
                                      Log("Report cancelled");
                                  else
                                      Send(Action::Report, taken, chosen);
                              });
        break;
    }
    case Action::Chart:
        OpenCharts(taken);
        break;
    case Action::Read:
        Send(action, taken, {});
        break;
    }
}

// The answer came while the lines went on: each is asked again whether it allows the action.
void Seat::Confirmed(Action action, const std::vector<std::string> &keys) {
    if (action != Action::Forget) {
        Send(action, keys, {});
        return;
    }
    const double now = publish::UnixNow();
    for (const std::string &key : keys) {
        const Row *row        = model_.Find(key);
        const Allowed allowed = row ? Allows(*row, action, now) : Allowed{false, "it has gone"};
        if (!allowed.ok) {
            Log("Forget not for " + key + ": " + allowed.why);
            continue;
        }
        Log("forgetting " + ForgetLine(*row, now));
        link_.Forget(key);
    }
}

void Seat::Send(Action action, const std::vector<std::string> &keys, const std::string &folder) {
    const double now = publish::UnixNow();
    std::vector<std::string> sent;
    for (const std::string &key : keys) {
        const Row *row        = model_.Find(key);
        const Allowed allowed = row ? Allows(*row, action, now) : Allowed{false, "it has gone"};
        if (!allowed.ok) {
            Log(ActionName(action) + " not for " + key + ": " + allowed.why);
            continue;
        }
        const std::string members =
            action == Action::Report ? "\"operator\":" + JsonString(audit::LoginName()) : "";
        if (action == Action::Report)
            reportFolders_[key] = folder;
        if (link_.Send(key, VerbOf(action), members))
            sent.push_back(key);
        dirty_.insert(key);
    }
    orderStale_ = true;
    if (!sent.empty())
        Log(ActionName(action) + " sent to " + Joined(sent) +
            (folder.empty() ? "" : "; the reports go into " + folder));
}

void Seat::OpenCharts(const std::vector<std::string> &keys) {
    for (const std::string &key : keys) {
        if (charts_.contains(key))
            continue;
        if (charts_.size() >= kMostCharts) {
            Log("at most " + std::to_string(kMostCharts) + " live charts at once: " + key +
                " not opened");
            continue;
        }
        charts_[key] = std::make_unique<plantview::LiveChart>(key + " - live values",
                                                              [this, key] { charts_.erase(key); });
    }
}

void Seat::Took(const Applied &applied) {
    if (!applied.line.empty())
        dirty_.insert(applied.line);
    orderStale_ = orderStale_ || applied.orderChanged || applied.added || applied.removed;
    if (!applied.note.empty())
        Log(applied.note);
    if (applied.removed) {
        charts_.erase(applied.line);
        return;
    }
    if (!applied.live || !applied.taken)
        return;
    if (const auto chart = charts_.find(applied.line); chart != charts_.end())
        if (const Row *row = model_.Find(applied.line))
            chart->second->Append(SampleOf(*row));
}

void Seat::Ended(const LineResult &result) {
    dirty_.insert(result.line);
    orderStale_            = true;
    const std::string code = "exit code " + std::to_string(result.exitCode) + ": " +
                             status::ExitCodeMeaning(result.exitCode);
    const auto folder = reportFolders_.find(result.line);
    if (result.verb == "report" && folder != reportFolders_.end()) {
        const std::string into = folder->second;
        reportFolders_.erase(folder);
        if (result.ok()) {
            const double now        = publish::UnixNow();
            const SavedReport saved = SaveReport(result, into, now);
            CommandResult shown;
            shown.verb     = result.verb;
            shown.exitCode = saved.exitCode;
            shown.text     = saved.exitCode == 0 ? "saved as " + saved.path : saved.error;
            shown.time     = now;
            model_.SetResult(result.line, shown);
            Log(result.line + " report: " + shown.text + " (exit code " +
                std::to_string(saved.exitCode) + ": " + status::ExitCodeMeaning(saved.exitCode) +
                ")");
            return;
        }
    }
    Log(result.line + " " + result.verb + ": " + result.Text() + " (" + code + ")");
}

PlantSeat::PlantSeat() = default;

PlantSeat::~PlantSeat() {
    Close();
}

bool PlantSeat::Open(const publish::Settings &settings, std::string &error,
                     std::function<void()> closed) {
    if (seat_) {
        seat_->Raise();
        return true;
    }
    // The window's close runs inside the window's own callbacks: the seat goes afterwards.
    auto opened = std::make_unique<Seat>(settings, [this] {
        CancelTimer(endTimer_);
        endTimer_ = StartTimer(0, EndSeat, this);
    });
    if (!opened->Start(settings, error))
        return false;
    seat_   = std::move(opened);
    closed_ = std::move(closed);
    return true;
}

void PlantSeat::EndSeat(void *self) {
    auto &owner     = *static_cast<PlantSeat *>(self);
    owner.endTimer_ = 0;
    owner.seat_.reset();
    if (std::function<void()> closed = std::exchange(owner.closed_, nullptr))
        closed();
}

void PlantSeat::Close() {
    CancelTimer(endTimer_);
    endTimer_ = 0;
    seat_.reset();
    closed_ = nullptr;
}

} // namespace plant

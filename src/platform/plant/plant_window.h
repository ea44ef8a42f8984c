// The plant window and a line's live chart: windows of their own beside the panel.
//
//   --- Content ---   Cell, Trend, RowCells, ActionState: one row as values
//   --- Window ---    PlantWindow: a summary, a name and status filter, a sort choice,
//                     action buttons, the table of lines, a log pane; questions and the
//                     folder dialog, answered through callbacks
//   --- Chart ---     LiveChart: a line's live values on strip charts, read only
//
// The caller owns what is shown. It gives the rows' keys in the order to show them and
// says which rows changed; the window asks for a row's cells (Callbacks::row) only when
// the row is on screen, and repaints changed rows at most ten times a second (the tick),
// rows off screen not at all. Every control and cell carries an accessible name; every
// action is reached with the keyboard (Tab, its Alt letter, the context menu of a row).
//
// Thread rule: the program thread only. The windows live on the events RunUserInterface and
// ProcessSystemEvents process; nothing here waits. Questions and the folder dialog are not
// modal to the program: their answers come through the callbacks given.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plantview {

// --- Content ---
constexpr int kColumns     = 9;
constexpr int kTrendColumn = 4; // the live value, drawn with its trend and the state LEDs

struct Cell {
    std::string text;
    std::string tip;         // tooltip; "" none
    std::string accessible;  // what a screen reader says for the cell
    unsigned background = 0; // 0xRRGGBB; 0: the table's own
};

// What the trend column draws beside its text.
struct Trend {
    std::vector<double> values; // oldest first, evenly spread over the trend's time
    int leds = -1;              // bit 0 and bit 1 lit; -1 no LEDs
};

struct ActionState {
    bool allowed = true;
    std::string why; // when not allowed: shown in the tooltip of the action
};

struct RowCells {
    std::array<Cell, kColumns> cells;
    Trend trend;
    std::vector<ActionState> actions; // one per action the window was made with
    std::string shown;                // traced as SHOWN with the time it was drawn; "" none
};

struct ActionText {
    std::string label; // with '&' before its Alt letter: "&Read"
    std::string name;  // accessible name: "Read"
    std::string tip;   // what it does
};

struct Layout {
    std::string title;
    std::array<std::string, kColumns> headers;
    std::vector<ActionText> actions;
    std::vector<std::string> statusFilters; // the status filter's choices, the first "all"
};

struct Callbacks {
    std::function<RowCells(const std::string &key)> row; // a row's cells, when it is drawn
    std::function<void()> tick;                          // ten times a second
    std::function<void(int column, bool descending)> sort;
    std::function<void(const std::string &name, int statusFilter)> filter;
    // An action on the rows selected (their keys, in the order shown).
    std::function<void(int action, const std::vector<std::string> &keys)> act;
    std::function<void()> closed; // the operator closed the window
};

// --- Window ---
class PlantWindow {
  public:
    PlantWindow(const Layout &layout, Callbacks callbacks);
    // Closes the window without calling closed.
    ~PlantWindow();
    PlantWindow(const PlantWindow &)            = delete;
    PlantWindow &operator=(const PlantWindow &) = delete;

    // Shows the window, at 1200x780 where the screen has room, else as large as it allows.
    void Show();
    void Raise();
    // The rows to show, in order; the selection and the current row follow their keys.
    void SetOrder(const std::vector<std::string> &keys);
    // These rows' cells are to be asked for again: those on screen are repainted.
    void Changed(const std::vector<std::string> &keys);
    void SetSummary(const std::string &text);
    // Appends a line to the log pane (the time is the caller's); the oldest go after 2000.
    void Log(const std::string &line);
    // Asks a yes-or-no question; answer gets true for yes. One question at a time.
    void Ask(const std::string &title, const std::string &question,
             std::function<void(bool yes)> answer);
    // Asks for a folder, starting in start; chosen gets it, or "" when cancelled. A file
    // dialog responder (dialogs.h) answers instead while one is set.
    void ChooseFolder(const std::string &title, const std::string &start,
                      std::function<void(const std::string &folder)> chosen);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// --- Chart ---
struct LiveSample {
    double valNORM, valREF, UPval, LOval, adcCHA, adcCHB, Amax, Amin;
    int instate;
};

class LiveChart {
  public:
    // A chart window titled title; closed is called when the operator closes it.
    LiveChart(const std::string &title, std::function<void()> closed);
    ~LiveChart();
    LiveChart(const LiveChart &)            = delete;
    LiveChart &operator=(const LiveChart &) = delete;

    void Append(const LiveSample &sample);
    // The line above the charts: the line's status and rate.
    void SetCaption(const std::string &text);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plantview

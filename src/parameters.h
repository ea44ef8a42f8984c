// The parameter table: for each of the sixteen words of the parameter set its name, its
// place in a frame, the panel control that shows it, the range that control takes, its
// unit and what is known of it. The panel, rmx7ctl, the tooltips, the report and the
// manual pages all describe the words from here; a test holds it against the panel file.
//
// What the controller does with a word is the controller's own: a meaning says what the
// program knows of the word and no more, and a unit is given only where it is known.
#pragma once

#include "ui.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace parameters {

constexpr int kWords = 16; // words of a set, as a frame carries them

struct Parameter {
    const char *name;      // the variable's name, and rmx7ctl's: "power"
    int word;              // its place in a frame, 0 to 15
    int control;           // the panel's numeric control (ui.h); 0 for none
    std::uint16_t minimum; // the range the control takes, as the panel file gives it;
    std::uint16_t maximum; // average: a whole word; the words sent as 0: only 0
    bool sentAsZero;       // words 11 to 15: Send transmits them as 0, whatever was read
    const char *unit;      // "ADC units"; "" where the unit is not known
    const char *meaning;   // one line
};

constexpr std::uint16_t kLargestWord = 0xFFFF;
// The unit of the controller's 10-bit converters, of the live values and the data curves.
constexpr const char *kAdcUnits = "ADC units";

// In frame order: kTable[w].word == w.
constexpr Parameter kTable[kWords] = {
    {"power", 0, ui::power, 0, kLargestWord, false, "", "The controller's power setting."},
    {"reference", 1, ui::reference, 0, kLargestWord, false, kAdcUnits,
     "The reference the NORM value is shown against; after a Teach the controller may hold "
     "another."},
    {"hysteresis", 2, ui::hysteresis, 0, kLargestWord, false, "",
     "The controller's hysteresis setting."},
    {"polarity", 3, ui::polarity, 0, kLargestWord, false, "", "The controller's polarity setting."},
    {"hold", 4, ui::hold, 0, kLargestWord, false, "", "The controller's hold time."},
    {"hwmode", 5, ui::hwmode, 0, kLargestWord, false, "",
     "The hardware mode; at 0 or 2 the panel shows this set's reference in a run, else the "
     "controller's."},
    {"average", 6, 0, 0, kLargestWord, false, "",
     "The controller's averaging setting; no control: sent as last read or set."},
    {"evalmode", 7, ui::evalmode, 0, kLargestWord, false, "", "The controller's evaluation mode."},
    {"mmtime", 8, ui::mmtime, 0, kLargestWord, false, "", "The controller's min/max time."},
    {"mmthd", 9, ui::mmthd, 0, kLargestWord, false, "", "The controller's min/max threshold."},
    {"sdelay", 10, ui::sdelay, 0, kLargestWord, false, "", "The controller's switch delay."},
    {"para12", 11, 0, 0, 0, true, "", "Reserved: always sent as 0."},
    {"para13", 12, 0, 0, 0, true, "", "Reserved: always sent as 0."},
    {"para14", 13, 0, 0, 0, true, "", "Reserved: always sent as 0."},
    {"para15", 14, 0, 0, 0, true, "", "Reserved: always sent as 0."},
    {"para16", 15, 0, 0, 0, true, "", "Reserved: always sent as 0."},
};

// The words the panel shows, in the order it reads and writes their controls. The order
// changes no value; it is the order of the calls.
constexpr int kPanelOrder[] = {0, 1, 2, 3, 10, 5, 7, 8, 9, 4};

// The word of a name; -1 when no word has it.
int WordOf(std::string_view name);
// The names of the words a value can be given to (all but those sent as 0), ", " between.
std::string SettableNames();

} // namespace parameters

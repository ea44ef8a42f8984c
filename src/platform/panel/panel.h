// Panel services: the window, its controls, plots and the event loop.
//
// A panel comes from a panel file (Qt Designer XML). Each control of interest carries
// its fixed integer id and, where it has one, the name of its callback as dynamic
// properties ("ctrlId", "callback"); the panel's own callback is the "callback"
// property of the top widget. The program registers its callbacks by name in one
// table before it loads the panel.
//
// Thread rule: every call comes from the program thread; callbacks run only inside
// RunUserInterface and ProcessSystemEvents. Results: 0 (or an id or a handle) on
// success, negative on failure; a call on an id the panel lacks does nothing.
#pragma once

// --- Events raised to callbacks ---
constexpr int kEventCommit       = 1; // button released, ring selection made
constexpr int kEventValueChanged = 2; // ring selection, radio button switched
constexpr int kEventLeftClick    = 3; // button pressed
constexpr int kEventGotFocus     = 8;
constexpr int kEventLostFocus    = 9;
constexpr int kEventClose        = 11; // the operator closes the panel
constexpr int kEventTimerTick    = 15;

// --- Control attributes ---
constexpr int kAttrDimmed          = 500; // 1 greyed and not operable, 0 operable
constexpr int kAttrVisible         = 530; // 1 shown, 0 hidden
constexpr int kAttrLeft            = 531; // pixels from the panel's left edge
constexpr int kAttrTop             = 532; // pixels from the panel's top edge
constexpr int kAttrFrameColor      = 550; // colour of a decoration, 0xRRGGBB
constexpr int kAttrTextColor       = 680;
constexpr int kAttrTextFont        = 682; // text: a font family, or kFontApplication
constexpr int kAttrTextPointSize   = 686;
constexpr int kAttrTextBold        = 687;
constexpr int kAttrTextBgColor     = 690;
constexpr int kAttrScrollMode      = 1088; // strip chart: kScrollContinuous
constexpr int kAttrYName           = 1093; // graph: caption of the y axis (text)
constexpr int kAttrNumTraces       = 1170; // strip chart: number of traces
constexpr int kAttrPointsPerScreen = 1171; // strip chart: points per trace on screen
constexpr int kAttrTraceColor      = 1230; // strip chart trace (SetTraceAttribute)
// Strip chart: how many of the newest points of each trace are drawn; the older ones are
// kept, and count for what scrolls out, but are not drawn. -1 (the start) draws them all.
constexpr int kAttrDrawnPoints = 2010;
constexpr int kAttrEnabled     = 1271; // timer control: 0 stops the ticks
constexpr int kAttrToolTip     = 2000; // text shown when the pointer rests; "" none
// Numeric controls: the value last sent or read for the control. While the control shows
// another value it is marked as not sent (a thick frame with a corner flag drawn over it,
// without moving anything), its tooltip names this value and its accessible description
// ends in " (not sent)". Operator input and value writes update the mark at once.
constexpr int kAttrSentValue = 2001;
constexpr int kAttrNotSent   = 2002; // read only: 1 while the control is marked as not sent
// Read only, text: the label the operator reads for the control, its accessible name
// ("Power", "Hold time"), which the panel file gives every control.
constexpr int kAttrLabel = 2006;
// Numeric controls: a note on the value, text; "" none. While there is one, a mark of its own
// (a dot in the bottom left corner) is drawn over the control, the note leads its tooltip and
// ends its accessible description. Independent of the not-sent mark.
constexpr int kAttrNote = 2003;
// A plot of an x-y graph (SetPlotAttribute), text: its name in the graph's legend, which
// shows while a plot has one; "" none.
constexpr int kAttrPlotName = 2008;
// Numeric controls: 1 while the value shown was not read from a controller (the panel
// file's default, or one typed over it): its digits are grey and slanted and its accessible
// description ends in " (default)"; 0 once a read has filled it.
constexpr int kAttrDefaultMark = 2009;

constexpr int kScrollContinuous        = 1;
constexpr const char *kFontApplication = "";

// --- Kinds, data types, plot styles ---
constexpr int kCtrlTextMsg = 160; // NewCtrl: a text message

constexpr int kTypeDouble = 4;
constexpr int kTypeU16    = 6;
constexpr int kTypeUInt   = 7;

constexpr int kPlotThinLine  = 0;
constexpr int kPlotThickLine = 5;
constexpr int kPointEmpty    = 10;
constexpr int kLineSolid     = 0;
constexpr int kLineDashed    = 1;

constexpr int kAxisX       = 0;
constexpr int kAxisLeftY   = 1;
constexpr int kScaleManual = 0;

constexpr int kAllPlots         = -1; // DeleteGraphPlot: every plot
constexpr int kRefreshImmediate = 1;

// --- Callbacks ---
using CtrlCallbackPtr  = int (*)(int panel, int control, int event, void *callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void *callbackData, int eventData1,
                                 int eventData2);

struct CallbackEntry {
    const char *name;
    CtrlCallbackPtr control; // for a control's callback
    PanelCallbackPtr panel;  // for the panel's callback
};

// --- Engine and panels (engine_qt.cpp, panel_loader.cpp, panel_table_qt.cpp) ---
// Starts the engine (the Qt application). 0 when the display cannot be opened. From here
// on a write beyond the file-size limit fails with EFBIG (TreatFileSizeLimitAsError).
int StartEngine(int argc, char **argv);
// Ends the engine; every panel must have been discarded.
void StopEngine();
// Callbacks that panel files name; the table must outlive the panels.
void RegisterCallbacks(const CallbackEntry *table, int count);
// Loads panel resource panelResource of a panel file. A bare file name is looked for
// beside the program. The panel handle (> 0), or negative when the file is missing,
// unreadable or names an unknown callback.
int LoadPanel(int parentPanel, const char *fileName, int panelResource);
// What every callback of the panel gets as its callback data from now on (nullptr at load).
int SetPanelCallbackData(int panel, void *callbackData);
int DisplayPanel(int panel);
int DiscardPanel(int panel);
// Calls callbacks until QuitUserInterface; returns once the callbacks that were
// running when it was called have returned.
int RunUserInterface();
int QuitUserInterface(int code);
// Creates a control of kind style at top/left; the id of the new control.
int NewCtrl(int panel, int style, const char *label, int top, int left);

// --- Values (control_values_qt.cpp) ---
// Numeric controls, rings, radio buttons, LEDs.
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, unsigned short *value);
// Text controls; text receives at most size - 1 characters and a terminator.
int GetCtrlVal(int panel, int control, char *text, int size);
// A number shows at the next event processing.
int SetCtrlVal(int panel, int control, int value);
// A text shows at once (repaints now), also inside a wait that processes no events.
int SetCtrlVal(int panel, int control, const char *text);

// --- Rings (rings_qt.cpp) ---
// A ring's value is the value of its selected item; SetCtrlVal selects by value.
int ClearListCtrl(int panel, int control);
// index -1 appends.
int InsertListItem(int panel, int control, int index, const char *label, int value);

// --- Attributes (attributes_qt.cpp) ---
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *text);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
// Text attributes (kAttrToolTip, kAttrNote, kAttrLabel); text receives at most size - 1
// characters. A tooltip of several lines (joined by newlines when set) reads back the same way.
int GetCtrlAttribute(int panel, int control, int attribute, char *text, int size);

// --- Plots (plots_qt.cpp) ---
// Appends count values, distributed to traces 1, 2, ... in turn; values of type
// dataType (kTypeDouble) from index start, skipping skip values after each one.
int PlotStripChart(int panel, int control, const void *values, int count, int start, int skip,
                   int dataType);
int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);
// Adds one x-y curve of n points; the plot handle.
int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color);
int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh);
int SetPlotAttribute(int panel, int control, int plotHandle, int attribute, const char *text);
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);

// --- Pictures (images_qt.cpp) ---
int DisplayImageFile(int panel, int control, const char *fileName);

constexpr int kImagePng = 0;
constexpr int kImagePdf = 1;
// Writes what a strip chart or an x-y graph shows, at its size on screen, as a PNG or PDF
// file, whole or not at all (as ReplaceTextFile writes). A file that cannot be written
// gives a negative result with errno set to the cause.
int SavePlotImage(int panel, int control, const char *path, int format);

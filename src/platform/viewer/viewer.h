// Viewer windows: series of numbers against one shared key (time), in stacked strips of a
// window of its own, with the notes they came with above them. The operator zooms the key
// axis with the mouse wheel, pans it by dragging, reads every series at the pointer and
// resets the view.
//
// Thread rule: the program thread only. A viewer is not modal: opening it returns at once,
// and its window then lives on the events that RunUserInterface and ProcessSystemEvents
// process, beside the panels. Results: 0 on success, negative on failure.
#pragma once

#include <string>
#include <vector>

struct ViewerTrace {
    std::string name;           // in the strip's legend and the pointer readout
    std::vector<double> values; // one per key
    unsigned color = 0;         // 0xRRGGBB
    bool dashed    = false;
};

struct ViewerStrip {
    std::string caption; // of its value axis
    std::vector<ViewerTrace> traces;
    bool steps = false; // each value holds until the next key, as a state does
    // Value axis range of a reset view; both 0: the range of the strip's values.
    double low = 0, high = 0;
};

struct ViewerContent {
    std::string title;              // of the window
    std::vector<std::string> notes; // lines above the strips; the first word shows in bold
    std::string keyName;            // caption of the shared axis, e.g. "time / s"
    std::vector<double> keys;       // ascending
    std::vector<ViewerStrip> strips;
};

// Opens a window showing content (taken over) and returns as soon as it has been drawn.
// closed, when given, is called once the operator has closed the window. 0, or negative
// without an engine, without keys or strips, with keys out of order, or when a trace's
// length differs from the keys'.
int OpenViewer(ViewerContent content, void (*closed)() = nullptr);
// Viewer windows open now.
int OpenViewerCount();
// Closes every viewer window; the program's end does this before it stops the engine.
void CloseViewers();

// View recording: the button and `--view FILE` show a recording of a run in a viewer window
// of its own, strips for NORM against its levels, for the two channels and for the state.
#include "app.h"

#include "colours.h"
#include "gui.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/viewer/viewer.h"
#include "recording_file.h"

#include <cstdio>
#include <filesystem>

namespace app {

namespace {

using recording::Recording;

constexpr double kStateLow = -0.5, kStateHigh = 3.5; // the two state bits, 0 to 3

ViewerTrace Trace(Recording &recorded, int column, int color, bool dashed = false) {
    return {std::string(recording::ColumnName(column)),
            std::move(recorded.columns[static_cast<std::size_t>(column)]),
            static_cast<unsigned>(color), dashed};
}

ViewerContent ContentOf(Recording recorded, const std::string &path) {
    using namespace recording;
    ViewerContent content;
    const std::string name = std::filesystem::path(path).filename().string();
    content.title          = name + " - recording viewer";
    content.notes          = std::move(recorded.comments);
    if (recorded.moreComments > 0)
        content.notes.push_back("... " + std::to_string(recorded.moreComments) +
                                " more comment lines, not shown");
    char summary[160];
    std::snprintf(summary, sizeof summary, "file %s, %zu rows from %.3f s to %.3f s", name.c_str(),
                  recorded.Rows(), recorded.columns[kTime].front(), recorded.columns[kTime].back());
    content.notes.emplace_back(summary);
    content.keyName = std::string(ColumnName(kTime));
    // Colours as on the panel: NORM red against a black reference and dark-green levels,
    // the channels blue and green as on the RAW chart.
    using namespace colour;
    content.strips = {
        {"NORM",
         {Trace(recorded, kNorm, kRed), Trace(recorded, kReference, kBlack),
          Trace(recorded, kUpper, kDarkGreen, true), Trace(recorded, kLower, kLightGreen, true)}},
        {"RAW",
         {Trace(recorded, kChannelA, kBlue), Trace(recorded, kChannelB, kMidGreen),
          Trace(recorded, kAmax, kOrange, true), Trace(recorded, kAmin, kPurple, true)}},
        {"state", {Trace(recorded, kState, kBlack)}, true, kStateLow, kStateHigh},
    };
    content.keys = std::move(recorded.columns[kTime]);
    return content;
}

void QuitWithTheViewer() {
    QuitUserInterface(0);
}

} // namespace

std::string ViewRecordingFile(const std::string &path, void (*closed)()) {
    Recording recorded;
    std::string error;
    if (!recording::LoadRecording(path, recorded, error))
        return error;
    if (OpenViewer(ContentOf(std::move(recorded), path), closed) != 0)
        return "the viewer cannot be opened";
    return {};
}

int ViewOnly(const std::string &path, int argc, char **argv) {
    Recording recorded;
    std::string error;
    // The file is checked first, so that a refused one needs no display.
    if (!recording::LoadRecording(path, recorded, error)) {
        std::fprintf(stderr, "rmx7scope: not shown: %s\n", error.c_str());
        return 1;
    }
    if (!StartEngine(argc, argv)) {
        std::fprintf(stderr, "rmx7scope: cannot open the display\n");
        return -1;
    }
    const int opened = OpenViewer(ContentOf(std::move(recorded), path), QuitWithTheViewer);
    if (opened == 0)
        RunUserInterface();
    else
        std::fprintf(stderr, "rmx7scope: the viewer cannot be opened\n");
    CloseViewers();
    StopEngine();
    return opened == 0 ? 0 : 1;
}

int CC_BTNViewRecording(int, int, int event, void *callbackData, int, int) {
    if (event != kEventCommit)
        return 0;
    gui::Panel &panel    = static_cast<Program *>(callbackData)->Panel();
    char path[kPathSize] = {};
    if (FileSelectPopup(panel.ProjectDir().c_str(), "", "*.csv", "View recording", kButtonLoad, 0,
                        1, 1, 0, path) <= 0)
        return 0;
    const std::string error = ViewRecordingFile(path);
    panel.ShowStatus((error.empty()
                          ? status::RecordingShown(std::filesystem::path(path).filename().string())
                          : status::RecordingNotShown(error))
                         .c_str());
    return 0;
}

} // namespace app

// Engine start and stop: the Qt application object the panels and ports live in.
#include "files/textfile.h"
#include "panel.h"
#include "widgets/accessible.h"

#include <QApplication>
#include <QByteArray>

#include <xcb/xcb.h>

namespace {

// A plain pointer, not a static owner: when the X server goes away Qt ends the process with
// exit(), and a QApplication destroyed by the exit handlers would crash on the dead
// connection. StopEngine deletes it on a normal end.
QApplication *application = nullptr;
int savedArgc             = 0;

// Qt ends the process when the X display cannot be opened; ask the display first so
// that start-up can fail with a result instead.
bool DisplayReachable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return true;
    if (platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool reachable         = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

} // namespace

int StartEngine(int argc, char **argv) {
    if (application)
        return 1;
    if (!DisplayReachable())
        return 0;
    // Before Qt and its libraries write anything (a font cache): under ulimit -f every write
    // beyond the limit must fail as on a full disk, not end the program.
    TreatFileSizeLimitAsError();
    savedArgc   = argc;
    application = new QApplication(savedArgc, argv);
    platform::InstallWidgetAccessibility();
    return 1;
}

void StopEngine() {
    delete application;
    application = nullptr;
}

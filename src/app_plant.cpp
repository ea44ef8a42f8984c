// The plant window from the program: the Plant button beside Report, on the broker the panel
// publishes to, and `--plant URL` alone.
#include "app.h"

#include "plant/plant_link.h"
#include "plant/plant_seat.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/trace.h"
#include "ui.h"

#include <cstdio>

namespace app {

namespace {

// The window connects as a client of its own: a publisher's client id given to it would
// throw the publisher off the broker.
publish::Settings WindowSettings(publish::Settings settings) {
    settings.clientId.clear();
    return settings;
}

} // namespace

void Program::OfferPlant(const publish::Settings &publisher) {
    plantBroker_    = publisher;
    const int panel = panel_.Handle();
    SetCtrlAttribute(panel, ui::BTNPlant, kAttrDimmed, 0);
    SetCtrlAttribute(panel, ui::BTNPlant, kAttrToolTip,
                     ("Open the plant window: every line on " + publisher.broker + " under " +
                      publisher.prefix + "/")
                         .c_str());
}

void Program::OpenPlant() {
    if (!plantBroker_)
        return;
    std::string error;
    if (!plant_.Open(WindowSettings(*plantBroker_), error))
        panel_.Explain("The plant window cannot be opened: " + error);
}

int CC_BTNPlant(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit)
        static_cast<Program *>(callbackData)->OpenPlant();
    return 0;
}

int PlantOnly(const Options &options, int argc, char **argv) {
    const publish::Settings settings = plant::ReaderSettings(options.publisher, options.publishing);
    if (!StartEngine(argc, argv)) {
        std::fprintf(stderr, "rmx7scope: cannot open the display\n");
        return -1;
    }
    if (!options.trace.empty() && !TraceOpen(options.trace.c_str()))
        std::fprintf(stderr, "rmx7scope: cannot write the trace to %s\n", options.trace.c_str());
    std::string error;
    plant::PlantSeat seat;
    if (!seat.Open(settings, error, [] { QuitUserInterface(0); })) {
        std::fprintf(stderr, "rmx7scope: %s\n", error.c_str());
        TraceClose();
        StopEngine();
        return 2;
    }
    if (const std::string warning = publish::PasswordWarning(settings); !warning.empty())
        std::fprintf(stderr, "rmx7scope: warning: %s\n", warning.c_str());
    CallOnInterrupt([&seat] {
        seat.Close();
        QuitUserInterface(0);
    });
    RunUserInterface();
    CallOnInterrupt(nullptr);
    seat.Close();
    TraceClose();
    StopEngine();
    return 0;
}

} // namespace app

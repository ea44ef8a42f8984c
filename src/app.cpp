// Entry, start values, the panel and COM-port callbacks, the callback table.
#include "app.h"

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "logo.h"
#include "platform/files/project_dir.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "platform/viewer/viewer.h"
#include "program.h"
#include "pty_host.h"
#include "record.h"
#include "ui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace app {

namespace {

constexpr int kStartPort = 1;

const CallbackEntry kCallbacks[] = {
    {"CC_PANEL", nullptr, CC_PANEL},
    {"CC_DropDCom", CC_DropDCom, nullptr},
    {"CC_BTNSend", CC_BTNSend, nullptr},
    {"CC_BTNGet", CC_BTNGet, nullptr},
    {"CC_ButtonTeach", CC_ButtonTeach, nullptr},
    {"CC_ButtonReset", CC_ButtonReset, nullptr},
    {"CC_RBTRam", CC_RBTRam, nullptr},
    {"CC_RBTEeprom", CC_RBTEeprom, nullptr},
    {"CC_RBTFile", CC_RBTFile, nullptr},
    {"CC_BTNRun", CC_BTNRun, nullptr},
    {"CC_BTNStop", CC_BTNStop, nullptr},
    {"CC_Timer50ms", CC_Timer50ms, nullptr},
    {"CC_RNGGraphSource", CC_RNGGraphSource, nullptr},
    {"CC_BTNData", CC_BTNData, nullptr},
    {"CC_CHKRecord", CC_CHKRecord, nullptr},
    {"CC_BTNSaveCurve", CC_BTNSaveCurve, nullptr},
    {"CC_BTNSaveChart", CC_BTNSaveChart, nullptr},
    {"CC_BTNViewRecording", CC_BTNViewRecording, nullptr},
    {"CC_BTNReport", CC_BTNReport, nullptr},
};

// The port set-up, told beside the status text and to the publisher.
void SetUpPort(int port) {
    const Outcome outcome = com232::InitRS232(port);
    ShowLineHint(outcome);
    publish::NoteOutcome(outcome);
}

void CloseFromSignal() {
    CC_PANEL(gui::Panel(), kEventClose, nullptr, 0, 0);
}

// "N=DEVICE" of --port; false when it is not of that shape.
bool ParsePortMapping(const std::string &text, Options &options) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        return false;
    char *end         = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + equals || number < 1 || number > 255)
        return false;
    options.ports[static_cast<int>(number)] = text.substr(equals + 1);
    return true;
}

} // namespace

// --- Entry ---

const char *UsageText() {
    return "Usage: rmx7scope [OPTION]...\n"
           "       rmx7scope --view FILE\n"
           "Operator program for the RMX7 sensor controller on an RS-232 line.\n"
           "\n"
           "  --port N=DEVICE      use DEVICE (a serial device or a pty) as COM N; repeatable\n"
           "                       DEVICE may be a remote line: tcp://HOST:PORT (raw) or\n"
           "                       rfc2217://HOST:PORT (the program sets the line)\n"
           "  --simulate[=100|0]   serve COM1 by the built-in controller simulator, board\n"
           "                       variant 100 (default) or 0; not with a device for COM1\n"
           "  --trace FILE         write every port write and read, every status text and\n"
           "                       what it leaves out to FILE, one line each ('-' for\n"
           "                       standard error)\n"
           "  --view FILE          show the recording FILE (RMX7live-*.csv) in a viewer\n"
           "                       window, without the panel and the port\n"
           "  --broker mqtt[s]://HOST[:PORT]  publish every live reply of a run to this MQTT\n"
           "                       broker, as rmx7ctl publish does, with its options --name,\n"
           "                       --topic, --every, --qos, --client-id, --username,\n"
           "                       --password-file, --cafile, --cert, --key, or --config FILE\n"
           "  --help               show this text and exit\n"
           "  --version            show the version and exit\n"
           "\n"
           "Exit codes: 0 normal end, 1 --view refused its file, 2 wrong command line, 255\n"
           "no display or no panel file. The parameters' table and the files: man rmx7scope.\n";
}

bool ParseSharedOption(int argc, char **argv, int &i, Options &options) {
    const std::string arg = argv[i];
    if (arg == "--simulate" || arg == "--simulate=100") {
        options.simulate = true;
        options.variant  = 100;
    } else if (arg == "--simulate=0") {
        options.simulate = true;
        options.variant  = 0;
    } else if (arg.rfind("--simulate=", 0) == 0) {
        options.error = "--simulate takes the board variant 100 or 0, not '" + arg.substr(11) + "'";
    } else if (arg == "--port" || arg == "--trace") {
        if (i + 1 >= argc) {
            options.error = arg + " needs a value";
        } else if (arg == "--trace") {
            options.trace = argv[++i];
        } else if (!ParsePortMapping(argv[++i], options)) {
            options.error =
                "--port wants N=DEVICE with N from 1 to 255, not '" + std::string(argv[i]) + "'";
        }
    } else if (arg.rfind("--port=", 0) == 0) {
        if (!ParsePortMapping(arg.substr(7), options))
            options.error =
                "--port wants N=DEVICE with N from 1 to 255, not '" + arg.substr(7) + "'";
    } else if (arg.rfind("--trace=", 0) == 0) {
        options.trace = arg.substr(8);
    } else if (!publish::TakeOption(argc, argv, i, options.publishing, options.error)) {
        return false;
    }
    return true;
}

void FinishSharedOptions(Options &options) {
    if (!options.error.empty() ||
        !publish::ReadSettings(options.publishing, options.publisher, options.error))
        return;
    if (!options.publisher.device.empty() && !options.simulate && !options.ports.contains(1))
        options.ports[1] = options.publisher.device;
}

Options ParseCommandLine(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        const std::string arg = argv[i];
        if (arg == "--help")
            options.help = true;
        else if (arg == "--version")
            options.version = true;
        else if (arg == "--view" && i + 1 < argc)
            options.view = argv[++i];
        else if (arg.rfind("--view=", 0) == 0)
            options.view = arg.substr(7);
        else if (arg == "--view")
            options.error = "--view needs a value";
        else if (!ParseSharedOption(argc, argv, i, options))
            options.error = "unknown option '" + arg + "'";
    }
    FinishSharedOptions(options);
    if (options.error.empty() && !options.view.empty() &&
        (options.simulate || !options.ports.empty() || !options.publisher.broker.empty()))
        options.error = "--view shows a file and opens no port: no --port, --simulate or "
                        "--broker with it";
    if (options.error.empty())
        options.error = CheckSharedOptions(options);
    return options;
}

std::string CheckSharedOptions(const Options &options) {
    if (options.simulate && options.ports.count(kStartPort))
        return "--simulate serves COM1 by the built-in simulator, and a device was given for "
               "COM1 too: give one of them";
    return {};
}

int LoadMainPanel() {
    RegisterCallbacks(kCallbacks, static_cast<int>(sizeof kCallbacks / sizeof kCallbacks[0]));
    const int panel = LoadPanel(0, ui::kPanelFile, ui::kPanelResource);
    if (panel > 0) {
        gui::SetPanel(panel);
        TraceSetStatusControl(panel, ui::TXTStatus);
        com232::InstallSinks({gui::ShowStatus, gui::ExplainStatus, gui::ShowFetchedParameters});
    }
    return panel;
}

namespace {

void ListPorts(int selected) {
    const int panel = gui::Panel();
    ClearListCtrl(panel, ui::DropDCom);
    for (const PortEntry &entry : PortTable())
        InsertListItem(panel, ui::DropDCom, -1, entry.label.c_str(), entry.number);
    SetCtrlVal(panel, ui::DropDCom, selected);
}

// What the start made, undone in reverse: the panel, the simulator, the trace, the engine.
void EndSession(int panel, sim::PtyHost *simulator) {
    if (panel > 0)
        DiscardPanel(panel);
    if (simulator)
        simulator->Stop();
    TraceClose();
    StopEngine();
}

} // namespace

void FillPortRing() {
    ListPorts(kStartPort);
}

void RefreshPortRing() {
    int selected = kStartPort;
    GetCtrlVal(gui::Panel(), ui::DropDCom, &selected);
    ListPorts(selected);
    // A device that went while the program waited: the operator learns it before the next
    // command runs into its time-out.
    const std::string lost = GetLostDiagnosis(com232::Port());
    if (!lost.empty())
        gui::Explain(lost);
}

int Main(int argc, char **argv) {
    const Options options = ParseCommandLine(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "rmx7scope: %s\n%s", options.error.c_str(), UsageText());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", program::kName, program::kVersion);
        return 0;
    }
    if (!options.view.empty())
        return ViewOnly(options.view, argc, argv);
    if (!StartEngine(argc, argv)) {
        std::fprintf(stderr, "rmx7scope: cannot open the display\n");
        return -1;
    }
    if (!options.trace.empty() && !TraceOpen(options.trace.c_str()))
        std::fprintf(stderr, "rmx7scope: cannot write the trace to %s\n", options.trace.c_str());

    std::unique_ptr<sim::PtyHost> simulator;
    if (options.simulate) {
        sim::HostOptions hostOptions;
        hostOptions.variant = options.variant;
        simulator           = std::make_unique<sim::PtyHost>();
        if (simulator->Start(hostOptions))
            PortTableAdd(kStartPort, simulator->SlavePath());
        else
            std::fprintf(stderr, "rmx7scope: cannot start the simulator\n");
    }
    for (const auto &[number, device] : options.ports)
        PortTableAdd(number, device);
    PortTableScan();

    if (LoadMainPanel() < 0) {
        std::fprintf(stderr, "rmx7scope: cannot load the panel file %s\n", ui::kPanelFile);
        EndSession(0, simulator.get());
        return -1;
    }
    const int panel            = gui::Panel();
    char projectDir[kPathSize] = {};
    GetProjectDir(projectDir);
    gui::SetProjectDir(projectDir);
    FillPortRing();
    WatchPortRing(panel, ui::DropDCom, RefreshPortRing);
    InitVars();
    if (!options.publisher.broker.empty()) {
        std::string error;
        if (!publish::Start(options.publisher, kStartPort, error)) {
            std::fprintf(stderr, "rmx7scope: %s\n", error.c_str());
            EndSession(panel, simulator.get());
            return 2;
        }
        if (const std::string warning = publish::PasswordWarning(options.publisher);
            !warning.empty())
            std::fprintf(stderr, "rmx7scope: warning: %s\n", warning.c_str());
        AddLiveListener(publish::PublishReply);
    }
    SetUpPort(com232::Port());
    RunPanel();
    publish::Stop();
    CloseCom(com232::Port());
    CloseViewers();
    EndSession(panel, simulator.get());
    return 0;
}

void RunPanel() {
    DisplayPanel(gui::Panel());
    // Ended by the system (a logout, a shutdown, kill), the program closes as the window
    // does.
    CallOnInterrupt(CloseFromSignal);
    RunUserInterface();
    CallOnInterrupt(nullptr);
}

// --- Start values ---

void InitVars() {
    com232::InitVars();
    gui::InitVars();
    record::InitVars();
    exports::InitVars();
    InitLiveVars();
    const int panel = gui::Panel();
    exports::DimSaveButtons(false);
    logo::ShowLogo(panel, program::kName, program::kVersion);
    gui::ShowStatus(status::kInitVars);
    gui::GetPanelValues();
    gui::FillarrayRAW(0, 0);
    gui::FillarrayNORM(com232::ParameterSet().reference, 0);
}

// --- Panel and COM port ---

int CC_PANEL(int, int event, void *, int, int) {
    if (event == kEventClose) {
        EndRunAtNextCheck();
        CloseCom(com232::Port());
        QuitUserInterface(0);
    }
    return 0;
}

int CC_DropDCom(int panel, int control, int event, void *, int, int) {
    if (event == kEventCommit || event == kEventValueChanged) {
        CloseCom(com232::Port());
        int port = com232::Port();
        GetCtrlVal(panel, control, &port);
        com232::SelectPort(port);
        gui::ShowStatus(status::kInitComPort);
        SetUpPort(port);
    }
    return 0;
}

} // namespace app

// Entry, start values, the panel and COM-port callbacks, the callback table.
#include "app.h"

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "logo.h"
#include "plant/plant_seat.h"
#include "platform/files/project_dir.h"
#include "platform/mqtt/mqtt_text.h"
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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace app {

namespace {

constexpr int kStartPort = 1;
constexpr int kTipSize   = 512;

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
    {"CC_BTNPlant", CC_BTNPlant, nullptr},
};

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

// Whether the command line gives the publisher's setting key.
bool Given(const Options &options, std::string_view key) {
    return std::any_of(options.publishing.settings.begin(), options.publishing.settings.end(),
                       [&](const Setting &s) { return s.key == key; });
}

// What --plant may not come with: a port, the simulator, a recording, another broker.
std::string CheckPlantOptions(const Options &options) {
    const auto given = [&](const char *key) { return Given(options, key); };
    if (options.simulate || !options.ports.empty() || !options.view.empty())
        return "--plant shows the plant and opens no port: no --port, --simulate or --view "
               "with it";
    if (given("broker"))
        return "--plant names the broker: no --broker with it";
    for (const char *key : {"name", "every", "qos"})
        if (given(key))
            return "--plant reads the plant: --" + std::string(key) + " is the publisher's";
    mqtt::BrokerAddress address;
    if (std::string error; !mqtt::ParseBrokerAddress(options.plant, address, error))
        return "--plant: " + error;
    return {};
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
           "  --plant mqtt[s]://HOST[:PORT]  show the plant window: every line whose agent\n"
           "                       publishes to this broker, under --topic (default rmx7),\n"
           "                       with --username, --password-file, --cafile, --cert,\n"
           "                       --key, --client-id or --config FILE; without the panel\n"
           "                       and the port\n"
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
        else if (arg == "--plant" && i + 1 < argc)
            options.plant = argv[++i];
        else if (arg.rfind("--plant=", 0) == 0)
            options.plant = arg.substr(8);
        else if (arg == "--plant")
            options.error = "--plant needs a broker: --plant mqtt://HOST[:PORT]";
        else if (!ParseSharedOption(argc, argv, i, options))
            options.error = "unknown option '" + arg + "'";
    }
    if (options.error.empty() && !options.plant.empty())
        options.error = CheckPlantOptions(options);
    // The panel takes no commands from the plant and serves no approved set: the agent does.
    for (const char *key : {"commands", "parameter-server"})
        if (options.error.empty() && Given(options, key))
            options.error = "--" + std::string(key) +
                            " is the line's agent's: rmx7ctl publish takes it, the panel does not";
    // The plant window reads the broker --plant names, with the publisher's login and TLS.
    if (options.error.empty() && !options.plant.empty())
        options.publishing.settings.push_back({"broker", options.plant, 0});
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
    if (panel > 0)
        TraceSetStatusControl(panel, ui::TXTStatus);
    return panel;
}

namespace {

void ListPorts(int panel, int selected) {
    ClearListCtrl(panel, ui::DropDCom);
    for (const PortEntry &entry : PortTable())
        InsertListItem(panel, ui::DropDCom, -1, entry.label.c_str(), entry.number);
    SetCtrlVal(panel, ui::DropDCom, selected);
}

// The simulator and the trace of a start, undone in reverse with the engine.
void EndSession(sim::PtyHost *simulator) {
    if (simulator)
        simulator->Stop();
    TraceClose();
    StopEngine();
}

} // namespace

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
    if (!options.plant.empty())
        return PlantOnly(options, argc, argv);
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

    const int panel = LoadMainPanel();
    if (panel < 0) {
        std::fprintf(stderr, "rmx7scope: cannot load the panel file %s\n", ui::kPanelFile);
        EndSession(simulator.get());
        return -1;
    }
    char projectDir[kPathSize] = {};
    GetProjectDir(projectDir);
    int exitCode = 0;
    {
        Program program(panel, projectDir, kStartPort);
        program.FillPortRing();
        WatchPortRing(panel, ui::DropDCom, [&program] { program.RefreshPortRing(); });
        program.InitVars();
        std::string error;
        if (!options.publisher.broker.empty() &&
            !program.StartPublishing(options.publisher, error)) {
            std::fprintf(stderr, "rmx7scope: %s\n", error.c_str());
            exitCode = 2;
        } else {
            if (const std::string warning = publish::PasswordWarning(options.publisher);
                !options.publisher.broker.empty() && !warning.empty())
                std::fprintf(stderr, "rmx7scope: warning: %s\n", warning.c_str());
            if (!options.publisher.broker.empty())
                program.OfferPlant(options.publisher);
            program.Queue(program.SetUpPort(kStartPort));
            program.RunPanel();
        }
    }
    DiscardPanel(panel);
    CloseViewers();
    EndSession(simulator.get());
    return exitCode;
}

// --- The program on its panel ---

com232::LiveListener Program::ChartListener(Program &program) {
    com232::LiveListener listener;
    listener.reply = [&program](const com232::LiveReply &reply, double) {
        program.ShowLiveReply(reply);
    };
    return listener;
}

Program::Program(int panel, std::string projectDir, int port)
    : line_(port), panel_(panel, line_, projectDir),
      chartListener_(line_.AddLiveListener(ChartListener(*this))),
      recorder_(line_, projectDir,
                {.showStatus = [this](const char *text) { panel_.ShowStatus(text); },
                 .noteFile   = [this](const std::string &line) { NoteRecordingFile(line); },
                 .ended      = [this] { SetCtrlVal(panel_.Handle(), ui::CHKRecord, 0); }}) {
    SetPanelCallbackData(panel, this);
    line_.InstallSinks({
        .showStatus     = [this](const char *text) { panel_.ShowStatus(text); },
        .explainStatus  = [this](const char *text) { panel_.ExplainStatus(text); },
        .showParameters = [this](const com232::Parameters &) { panel_.ShowFetchedParameters(); },
    });
    // After the recording's start: the status line's tooltip names its file.
    com232::LiveListener recordingNamed;
    recordingNamed.runStarted = [this](double) {
        panel_.Explain(recorder_.Recording() ? status::RecordingTo(recorder_.RecordingPath()) : "");
    };
    line_.AddLiveListener(std::move(recordingNamed));
    char tip[kTipSize] = {};
    GetCtrlAttribute(panel, ui::CHKRecord, kAttrToolTip, tip, sizeof tip);
    recordTip_ = tip;
}

Program::~Program() {
    // Closed while a run went: its recording keeps every reply taken.
    recorder_.StopRecording();
    StopPublishing();
    SetPanelCallbackData(panel_.Handle(), nullptr);
}

void Program::SetProjectDir(const std::string &directory) {
    panel_.SetProjectDir(directory);
    recorder_.SetFolder(directory);
}

void Program::NoteRecordingFile(const std::string &line) {
    const std::string tip = recordTip_ + (line.empty() ? "" : "\n" + line);
    SetCtrlAttribute(panel_.Handle(), ui::CHKRecord, kAttrToolTip, tip.c_str());
}

void Program::Queue(job::Task<Outcome> step) {
    line_.Queue(
        [](job::Task<Outcome> queued) -> job::Task<void> { co_await queued; }(std::move(step)));
}

job::Task<Outcome> Program::SetUpPort(int port) {
    line_.SelectPort(port);
    const Outcome outcome = co_await line_.InitRS232(port);
    // A controller set up anew: its RAM as the start-up fetched it, its EEPROM not read.
    NoteKnown(com232::Target::RAM,
              outcome.ok() ? std::optional(com232::WordsOf(line_.ParameterSet())) : std::nullopt);
    NoteKnown(com232::Target::EEPROM, std::nullopt);
    ShowLineHint(outcome);
    NoteOutcome(outcome);
    co_return outcome;
}

void Program::NoteOutcome(const Outcome &outcome) {
    if (publisher_)
        publisher_->NoteOutcome(outcome);
}

bool Program::StartPublishing(const publish::Settings &settings, std::string &error) {
    publish::Sinks sinks;
    sinks.showBrokerState = [this](const char *label, const std::string &tip) {
        SetCtrlVal(panel_.Handle(), ui::TXTBroker, label);
        SetCtrlAttribute(panel_.Handle(), ui::TXTBroker, kAttrToolTip, tip.c_str());
    };
    publisher_ = std::make_unique<publish::Publisher>(line_, std::move(sinks));
    if (publisher_->Start(settings, {}, error))
        return true;
    publisher_.reset();
    return false;
}

void Program::StopPublishing() {
    publisher_.reset();
}

void Program::FillPortRing() {
    ListPorts(panel_.Handle(), kStartPort);
}

void Program::RefreshPortRing() {
    int selected = kStartPort;
    GetCtrlVal(panel_.Handle(), ui::DropDCom, &selected);
    ListPorts(panel_.Handle(), selected);
    // A device that went while the program waited: the operator learns it before the next
    // command runs into its time-out.
    const std::string lost = GetLostDiagnosis(line_.Port());
    if (!lost.empty())
        panel_.Explain(lost);
}

void Program::RunPanel() {
    DisplayPanel(panel_.Handle());
    // Ended by the system (a logout, a shutdown, kill), the program closes as the window
    // does, once the reply to the request on the line came.
    CallOnInterrupt([this] { CloseAfterExchange(); });
    RunUserInterface();
    CallOnInterrupt(nullptr);
}

// The close waits for nothing: a run ends, the port closes, and the event loop returns as
// soon as the job that waits for its reply has seen its time-out.
void Program::Close() {
    EndRunAtNextCheck();
    CloseCom(line_.Port());
    line_.EndAfterCurrentJob([] { QuitUserInterface(0); });
}

void Program::CloseAfterExchange() {
    if (closing_)
        return;
    closing_ = true;
    line_.RequestStopAfterExchange();
    line_.EndAfterCurrentJob([this] { Close(); });
}

// --- Start values ---

void Program::InitVars() {
    line_.InitVars();
    panel_.InitVars();
    recorder_.InitVars();
    exports_.InitVars();
    stop_flag_ = true;
    type_      = com232::GraphSource::Norm;
    upTHR_     = 0;
    loTHR_     = 0;
    DimForRun(false);
    logo::ShowLogo(panel_.Handle(), program::kName, program::kVersion);
    panel_.ShowStatus(status::kInitVars);
    panel_.GetPanelValues();
    panel_.FillarrayRAW(0, 0);
    panel_.FillarrayNORM(line_.ParameterSet().reference, 0);
}

// --- Panel and COM port ---

int CC_PANEL(int, int event, void *callbackData, int, int) {
    if (event == kEventClose)
        static_cast<Program *>(callbackData)->Close();
    return 0;
}

int CC_DropDCom(int panel, int control, int event, void *callbackData, int, int) {
    if (event != kEventCommit && event != kEventValueChanged)
        return 0;
    Program &program = *static_cast<Program *>(callbackData);
    int port         = program.Line().Port();
    GetCtrlVal(panel, control, &port);
    // The change waits for the exchange on the line, then closes the port in use and sets
    // up the new one.
    program.Queue([](Program &program, int port) -> job::Task<Outcome> {
        CloseCom(program.Line().Port());
        program.Line().SelectPort(port);
        program.Panel().ShowStatus(status::kInitComPort);
        co_return co_await program.SetUpPort(port);
    }(program, port));
    return 0;
}

} // namespace app

// The commissioning report: the two reads, the description of the unit, the file.
#include "report.h"

#include "colours.h"
#include "exports.h"
#include "gui.h"
#include "parameters.h"
#include "platform/panel/dialogs.h"
#include "platform/report/fingerprint.h"
#include "platform/report/pdf_report.h"
#include "platform/serial/ports.h"
#include "program.h"
#include "record.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace report {

namespace {

using com232::PNUM;
using status::Result;

constexpr const char *kTitle      = "Commissioning report";
constexpr const char *kNoCapture  = "No data curve captured in this session.";
constexpr const char *kSampleAxis = "Sample";
constexpr int kHostNameSize       = 256;

std::string Program() {
    return std::string(program::kName) + " " + program::kVersion;
}

// Local time with its zone, as a reader elsewhere needs it: "2026-03-04 10:15:02 CET (+0100)".
std::string LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z (%z)", &local);
    return text;
}

std::string LoginName() {
    if (const passwd *user = getpwuid(getuid()))
        return user->pw_name;
    const char *name = std::getenv("LOGNAME");
    return name ? name : "";
}

std::string ComputerName() {
    char name[kHostNameSize] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string OrNone(const std::string &text, const char *none) {
    return text.empty() ? none : text;
}

// The port as the COM-port ring knows it: a local device with what the system reports of
// it, or a remote line's address.
void AddPortRows(std::vector<ReportHeaderRow> &header) {
    const int port = com232::Port();
    header.push_back({"Port", "COM" + std::to_string(port)});
    const std::vector<PortEntry> table = PortTable();
    const auto entry                   = std::find_if(table.begin(), table.end(),
                                                      [port](const PortEntry &e) { return e.number == port; });
    if (entry == table.end())
        return;
    // A device file never holds a scheme; a remote line is named by one.
    if (entry->device.find("://") != std::string::npos) {
        header.push_back({"Remote address", entry->device + "  (" + entry->description + ")"});
        return;
    }
    header.push_back({"Device", entry->device});
    header.push_back({"Description", OrNone(entry->description, "none reported")});
    header.push_back({"Stable name", OrNone(entry->byIdName, "none")});
}

std::vector<ReportHeaderRow> Header(const std::string &operatorName) {
    std::vector<ReportHeaderRow> header = {
        {"Program", Program()},
        {"Firmware", OrNone(com232::Firmware(), "not read")},
        {"Board variant", std::to_string(com232::BoardVariant())},
    };
    AddPortRows(header);
    header.push_back({"Computer", ComputerName()});
    header.push_back({"Date and time", LocalTime(std::time(nullptr))});
    header.push_back({"Operator", operatorName});
    return header;
}

// Every word by its name and label; from the panel also the value each control shows with
// its mark, and the words of the parameter file saved or loaded in this session.
ReportParameterTable PanelTable(bool fromPanel) {
    ReportParameterTable table;
    table.panelColumn                             = fromPanel;
    const std::optional<com232::Words> &fileWords = gui::ParameterFileWords();
    if (fromPanel && fileWords)
        table.fileName = gui::ParameterFile();
    for (int word = 0; word < PNUM; ++word) {
        const gui::PanelWord panel = gui::PanelWordOf(word);
        ReportParameterRow row;
        row.word       = word;
        row.name       = parameters::kTable[word].name;
        row.panelLabel = panel.label;
        row.panel      = panel.value;
        row.notSent    = panel.notSent;
        row.file       = fileWords ? (*fileWords)[word] : 0;
        table.rows.push_back(row);
    }
    return table;
}

std::vector<std::uint16_t> Samples(const gui::Curve &curve) {
    return {curve.begin(), curve.end()};
}

// The last capture in the styles of the panel's data graph, under its own source.
ReportCapture Capture() {
    ReportCapture capture;
    capture.absentNote                            = kNoCapture;
    const std::optional<gui::DataCurve> &captured = exports::LastCapture();
    if (!captured)
        return capture;
    const gui::DataCurve &curve = *captured;
    const bool raw              = curve.source == gui::kSourceRaw;
    capture.present             = true;
    capture.source              = raw ? "RAW" : "NORM";
    capture.taken               = LocalTime(exports::LastCaptureTime());
    capture.xCaption            = kSampleAxis;
    capture.yCaption            = gui::YAxisName(curve.source);
    if (raw)
        capture.curves = {{gui::kCurveA, Samples(curve.a), colour::kBlue, true, false},
                          {gui::kCurveB, Samples(curve.b), colour::kBrightGreen, true, false}};
    else
        capture.curves = {
            {gui::kCurveNorm, Samples(curve.a), colour::kRed, true, false},
            {gui::kCurveUpper, Samples(curve.upper), colour::kDarkGreen, true, false},
            {gui::kCurveLower, Samples(curve.lower), colour::kDarkGreen, true, false},
            {gui::kCurveReference, Samples(curve.reference), colour::kBlack, false, true}};
    return capture;
}

Outcome Shown(Result result, const std::string &text) {
    gui::ShowStatus(text.c_str());
    return {result, text};
}

} // namespace

std::string Fingerprint(const com232::Words &words) {
    std::uint16_t set[kFingerprintWords];
    std::copy(words.begin(), words.end(), set);
    return ParameterFingerprint(set);
}

Made MakeReport(const Request &request) {
    Made made;
    // The panel as the operator left it when asking for the report; the reads touch
    // neither it nor the parameter set.
    const ReportParameterTable panel = PanelTable(request.fromPanel);
    const com232::ParameterRead ram  = com232::ReadParameterWords(com232::RAM);
    if (!ram.words) {
        made.outcome = ram.outcome;
        return made;
    }
    const com232::ParameterRead eeprom = com232::ReadParameterWords(com232::EEPROM);
    if (!eeprom.words) {
        made.outcome = eeprom.outcome;
        return made;
    }
    made.ram         = *ram.words;
    made.eeprom      = *eeprom.words;
    made.fingerprint = Fingerprint(made.eeprom);

    ReportDocument document;
    document.title      = kTitle;
    document.program    = Program();
    document.author     = request.operatorName.empty() ? LoginName() : request.operatorName;
    document.header     = Header(document.author);
    document.parameters = panel;
    for (ReportParameterRow &row : document.parameters.rows) {
        row.ram    = made.ram[row.word];
        row.eeprom = made.eeprom[row.word];
    }
    document.fingerprint = made.fingerprint;
    document.capture     = Capture();
    document.note        = request.note;

    const std::string file          = std::filesystem::path(request.path).filename().string();
    const ReportWriteResult written = WriteReport(document, request.path.c_str());
    made.fileProblem                = written.reason;
    made.outcome                    = written ? Shown(Result::Ok, status::ReportSaved(file))
                                              : Shown(Result::FileFailed, status::ReportNotSaved(file));
    return made;
}

Outcome ReportFromPanel() {
    const std::string name = "RMX7report-" + record::FileStamp() + ".pdf";
    char path[kPathSize]   = {};
    gui::MakeProjectDir();
    if (FileSelectPopup(gui::ProjectDir().c_str(), name.c_str(), "*.pdf", "Save report",
                        kButtonSave, 0, 1, 1, 1, path) <= 0)
        return {Result::Cancelled, {}};
    Request request;
    request.path      = path;
    request.fromPanel = true;
    return MakeReport(request).outcome;
}

} // namespace report

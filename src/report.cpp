// The commissioning report: the two reads, the description of the unit, the file.
#include "report.h"

#include "colours.h"
#include "exports.h"
#include "gui.h"
#include "parameters.h"
#include "platform/files/project_dir.h"
#include "platform/files/remembered.h"
#include "platform/panel/dialogs.h"
#include "platform/report/fingerprint.h"
#include "platform/report/pdf_report.h"
#include "platform/serial/ports.h"
#include "program.h"
#include "record.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::vector<ReportHeaderRow> Header(const std::string &operatorName, const Request &request) {
    std::vector<ReportHeaderRow> header = {
        {"Program", Program()},
        {"Firmware", OrNone(com232::Firmware(), "not read")},
        {"Board variant", std::to_string(com232::BoardVariant())},
    };
    AddPortRows(header);
    header.push_back({"Computer", ComputerName()});
    header.push_back({"Date and time", LocalTime(std::time(nullptr))});
    header.push_back({"Operator", operatorName});
    header.push_back({"Unit id", OrNone(request.unitId, "not given")});
    header.push_back({"Station", OrNone(request.station, "not given")});
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
        row.unit       = parameters::kTable[word].unit;
        row.meaning    = parameters::kTable[word].meaning;
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
    // The unit, as the panel's charts are captioned; the source is in the legend above.
    capture.yCaption = parameters::kAdcUnits;
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

// The report form: who made the report, of which unit, where, and a note. The last entries
// are remembered for the next report; the operator is the login name the first time.
constexpr const char *kRememberGroup = "report";
constexpr std::size_t kOperatorField = 0;
constexpr std::size_t kUnitField     = 1;
constexpr std::size_t kStationField  = 2;
constexpr std::size_t kNoteField     = 3;
constexpr const char *kFormKeys[]    = {"operator", "unit_id", "station", "note"};

std::vector<FormField> RememberedForm() {
    std::vector<FormField> form = {{"Operator", {}},
                                   {"Unit id (serial number or asset tag)", {}},
                                   {"Station", {}},
                                   {"Note", {}, true}};
    for (std::size_t k = 0; k < form.size(); ++k)
        form[k].value = RememberedValue(kRememberGroup, kFormKeys[k]);
    if (form[kOperatorField].value.empty())
        form[kOperatorField].value = LoginName();
    return form;
}

void RememberForm(const std::vector<FormField> &form) {
    for (std::size_t k = 0; k < form.size(); ++k)
        RememberValue(kRememberGroup, kFormKeys[k], form[k].value);
}

// The unit id as a part of a file name, "U-4711-": letters, digits, '.', '-' and '_' kept,
// anything else made '_'; "" without one.
std::string FileNamePart(const std::string &unitId) {
    std::string part;
    for (const char c : unitId)
        part += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'
                    ? c
                    : '_';
    return part.empty() ? part : part + "-";
}

} // namespace

std::string Fingerprint(const com232::Words &words) {
    std::uint16_t set[kFingerprintWords];
    std::copy(words.begin(), words.end(), set);
    return ParameterFingerprint(set);
}

std::string FolderProblem(const std::string &path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::string name             = folder.empty() ? "." : folder.string();
    std::error_code error;
    if (!std::filesystem::is_directory(name, error))
        return "the folder " + name + " does not exist";
    if (!DirectoryWritable(name.c_str()))
        return "the folder " + name + " takes no new file: " + std::strerror(EACCES);
    return {};
}

Made MakeReport(const Request &request) {
    Made made;
    const std::string file = std::filesystem::path(request.path).filename().string();
    // Before the line: a folder that takes no file makes every read in vain.
    made.fileProblem = FolderProblem(request.path);
    if (!made.fileProblem.empty()) {
        made.outcome = Shown(Result::FileFailed, status::ReportNotSaved(file));
        return made;
    }
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
    document.unitId     = request.unitId;
    document.station    = request.station;
    document.header     = Header(document.author, request);
    document.parameters = panel;
    for (ReportParameterRow &row : document.parameters.rows) {
        row.ram    = made.ram[row.word];
        row.eeprom = made.eeprom[row.word];
    }
    document.fingerprint = made.fingerprint;
    document.capture     = Capture();
    document.note        = request.note;

    const ReportWriteResult written = WriteReport(document, request.path.c_str());
    made.fileProblem                = written.reason;
    made.outcome                    = written ? Shown(Result::Ok, status::ReportSaved(file))
                                              : Shown(Result::FileFailed, status::ReportNotSaved(file));
    return made;
}

Outcome ReportFromPanel() {
    std::vector<FormField> form = RememberedForm();
    if (FormPopup(kTitle, form) <= 0)
        return {Result::Cancelled, {}};
    RememberForm(form);
    Request request;
    request.operatorName = form[kOperatorField].value;
    request.unitId       = form[kUnitField].value;
    request.station      = form[kStationField].value;
    request.note         = form[kNoteField].value;
    request.fromPanel    = true;

    const std::string name =
        "RMX7report-" + FileNamePart(request.unitId) + record::FileStamp() + ".pdf";
    char path[kPathSize] = {};
    gui::MakeProjectDir();
    if (FileSelectPopup(gui::ProjectDir().c_str(), name.c_str(), "*.pdf", "Save report",
                        kButtonSave, 0, 1, 1, 1, path) <= 0)
        return {Result::Cancelled, {}};
    request.path    = path;
    const Made made = MakeReport(request);
    Outcome outcome = made.outcome;
    if (outcome.result == Result::FileFailed)
        outcome.detail = made.fileProblem;
    return outcome;
}

} // namespace report

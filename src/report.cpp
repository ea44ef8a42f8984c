// The commissioning report: the two reads, the description of the unit, the file.
#include "report.h"

#include "colours.h"
#include "parameters.h"
#include "platform/files/project_dir.h"
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
void AddPortRows(const com232::Line &line, std::vector<ReportHeaderRow> &header) {
    const int port = line.Port();
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

std::vector<ReportHeaderRow> Header(const com232::Line &line, const std::string &operatorName,
                                    const Request &request) {
    std::vector<ReportHeaderRow> header = {
        {"Program", Program()},
        {"Firmware", OrNone(line.Firmware(), "not read")},
        {"Board variant", std::to_string(line.BoardVariant())},
    };
    AddPortRows(line, header);
    header.push_back({"Computer", ComputerName()});
    header.push_back({"Date and time", LocalTime(std::time(nullptr))});
    header.push_back({"Operator", operatorName});
    header.push_back({"Unit id", OrNone(request.unitId, "not given")});
    header.push_back({"Station", OrNone(request.station, "not given")});
    return header;
}

// Every word by its name and label; from the panel also the value each control shows with
// its mark, and the words of the parameter file saved or loaded in this session.
ReportParameterTable PanelTable(const Request &request) {
    ReportParameterTable table;
    const bool fromPanel                          = request.fromPanel;
    table.panelColumn                             = fromPanel;
    const std::optional<com232::Words> &fileWords = request.fileWords;
    if (fromPanel && fileWords)
        table.fileName = request.parameterFile;
    for (int word = 0; word < PNUM; ++word) {
        const gui::PanelWord panel =
            word < static_cast<int>(request.panel.size()) ? request.panel[word] : gui::PanelWord{};
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
ReportCapture Capture(const Request &request) {
    ReportCapture capture;
    capture.absentNote = kNoCapture;
    if (!request.capture)
        return capture;
    const gui::DataCurve &curve = *request.capture;
    const bool raw              = curve.source == com232::GraphSource::Raw;
    capture.present             = true;
    capture.source              = raw ? "RAW" : "NORM";
    capture.taken               = LocalTime(request.captureTime);
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

Outcome Shown(const com232::Line &line, Result result, const std::string &text) {
    line.ShowStatus(text.c_str());
    return {result, text};
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

job::Task<Made> MakeReport(com232::Line &line, Request request) {
    Made made;
    const std::string file = std::filesystem::path(request.path).filename().string();
    // Before the line: a folder that takes no file makes every read in vain.
    made.fileProblem = FolderProblem(request.path);
    if (!made.fileProblem.empty()) {
        made.outcome = Shown(line, Result::FileFailed, status::ReportNotSaved(file));
        co_return made;
    }
    // The panel as the operator left it when asking for the report; the reads touch
    // neither it nor the parameter set.
    const ReportParameterTable panel = PanelTable(request);
    const com232::ParameterRead ram  = co_await line.ReadParameterWords(com232::Target::RAM);
    if (!ram.words) {
        made.outcome = ram.outcome;
        co_return made;
    }
    const com232::ParameterRead eeprom = co_await line.ReadParameterWords(com232::Target::EEPROM);
    if (!eeprom.words) {
        made.outcome = eeprom.outcome;
        co_return made;
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
    document.header     = Header(line, document.author, request);
    document.parameters = panel;
    document.parameters.approvedColumn = request.approved.shown;
    document.parameters.approvedNote   = request.approved.note;
    for (ReportParameterRow &row : document.parameters.rows) {
        row.ram    = made.ram[row.word];
        row.eeprom = made.eeprom[row.word];
        if (request.approved.words)
            row.approved = (*request.approved.words)[row.word];
    }
    document.parameters.hasApproved = request.approved.words.has_value();
    document.auditShown             = request.audit.shown;
    document.audit                  = request.audit.records;
    document.fingerprint            = made.fingerprint;
    document.capture                = Capture(request);
    document.note                   = request.note;

    const ReportWriteResult written = WriteReport(document, request.path.c_str());
    made.fileProblem                = written.reason;
    made.outcome                    = written ? Shown(line, Result::Ok, status::ReportSaved(file))
                                              : Shown(line, Result::FileFailed, status::ReportNotSaved(file));
    co_return made;
}

std::string ReportFileName(const std::string &unitId) {
    return "RMX7report-" + FileNamePart(unitId) + record::FileStamp() + ".pdf";
}

std::string LoginName() {
    if (const passwd *user = getpwuid(getuid()))
        return user->pw_name;
    const char *name = std::getenv("LOGNAME");
    return name ? name : "";
}

} // namespace report

// The audit trail: its records printed, or its chain checked, with no port opened; and the
// record of each write that rmx7ctl makes.
#include "commands.h"

#include "com232.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "plant/utc_time.h"
#include "platform/files/project_dir.h"
#include "platform/serial/ports.h"
#include "platform/text.h"
#include "publish.h"

#include <cstdio>

namespace ctl {

namespace {

// The trail of the state directory given, else the data folder's.
std::string TrailPath(const Options &options) {
    char dataFolder[kPathSize] = {};
    if (options.state.empty())
        GetProjectDir(dataFolder);
    return plant::FileIn(options.state.empty() ? std::string(dataFolder) : options.state,
                         plant::kAuditFile);
}

// The object's head: the command and the trail's file, no port.
void StartJson(const Options &options, const std::string &path, Report &report) {
    JsonObject head;
    head.Add("command", JsonString(options.command));
    head.Add("file", JsonString(path));
    std::fputs(("{" + head.Members()).c_str(), stdout);
    report.streamed = true;
}

void Check(const std::string &path, Report &report) {
    audit::ChainVerdict verdict;
    std::string error;
    if (!audit::CheckChain(path, verdict, error)) {
        report.outcome = {status::Result::FileFailed, error};
        return;
    }
    report.json.Add("records", std::to_string(verdict.records));
    report.json.Add("intact", verdict.intact ? "true" : "false");
    report.json.Add("first_bad", verdict.intact ? "null" : std::to_string(verdict.firstBad));
    if (verdict.intact) {
        report.text = "intact: " + std::to_string(verdict.records) + " records\n";
        return;
    }
    report.text    = "broken at record " + std::to_string(verdict.firstBad) + "\n";
    report.outcome = {status::Result::Differs, verdict.why};
}

void PrintRecords(const Options &options, const std::string &path, Report &report) {
    auditdb::AuditDatabase db;
    std::string error;
    if (!db.Open(path, auditdb::AuditDatabase::Mode::Read, error)) {
        report.outcome = {status::Result::FileFailed, error};
        return;
    }
    auditdb::AuditFilter filter;
    filter.line        = options.line;
    std::int64_t since = 0;
    if (!options.since.empty() && plant::ParseDate(options.since, since, error))
        filter.since = plant::IsoUtc(since);
    if (options.json)
        std::fputs(", \"records\": [", stdout);
    else if (options.csv)
        std::puts(audit::CsvHeader().c_str());
    long long printed = 0;
    const bool read   = db.ForEach(
          filter,
          [&](const auditdb::AuditRow &row) {
            if (const std::string why = audit::CheckRow(row); !why.empty()) {
                const std::string bad =
                    "record " + std::to_string(row.seq) + " cannot be read: " + why;
                Session::Warn(bad);
                if (report.outcome.ok())
                    report.outcome = {status::Result::Differs, bad};
                return true;
            }
            const std::string line = options.json  ? (printed > 0 ? ", " : "") + audit::Json(row)
                                       : options.csv ? audit::Csv(row) + "\n"
                                                     : audit::Text(row) + "\n";
            ++printed;
            return std::fputs(line.c_str(), stdout) >= 0;
        },
          error);
    if (options.json)
        std::fputs("]", stdout);
    report.json.Add("records_count", std::to_string(printed));
    if (!read)
        report.outcome = {status::Result::FileFailed, error};
}

} // namespace

void RecordWrite(Session &session, const Options &options, const Write &write) {
    audit::Record record = audit::MakeRecord(audit::Origin::CommandLine, write.verb, write.target);
    record.line          = publish::LineName(options.shared.publisher, options.com);
    record.port          = options.com;
    record.device        = PortDevice(options.com);
    record.firmware      = session.Line().Firmware();
    record.words         = write.words;
    record.replaced      = write.replaced;
    record.result        = plant::ResultCodeName(write.result);
    record.exitCode      = plant::ExitCodeOf(write.result);
    audit::Trail trail(plant::FileIn(session.Program().Panel().ProjectDir(), plant::kAuditFile));
    const audit::AppendResult appended = trail.Append(record);
    if (!appended.notice.empty())
        Session::Warn(appended.notice);
    // This process ends next: the record is kept where a reader of its output finds it.
    for (const std::string &json : trail.WaitingJson())
        Session::Warn("the record of this write: " + json);
}

void RunAudit(Session &, const Options &options, Report &report) {
    const std::string path = TrailPath(options);
    if (options.json)
        StartJson(options, path, report);
    if (options.check)
        Check(path, report);
    else
        PrintRecords(options, path, report);
}

} // namespace ctl

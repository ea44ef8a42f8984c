// Reports from the agents' answers into files.
#include "plant/plant_report.h"

#include "platform/files/textfile.h"
#include "platform/json/json.h"
#include "platform/mqtt/mqtt_text.h"
#include "platform/report/fingerprint.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace plant {

namespace {

constexpr int kExitFile = 6;
// Reports of one line in one minute before the folder is taken for full.
constexpr int kMostInAMinute = 100;

std::string Member(const json::Value &object, std::string_view key) {
    const json::Value *value = object.Find(key);
    return value && value->IsString() ? value->text : std::string();
}

SavedReport Failed(std::string error) {
    return {kExitFile, {}, std::move(error)};
}

} // namespace

std::string ReportFileName(const std::string &line, double time) {
    const std::time_t whole = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&whole, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M", &local);
    return mqtt::TopicSafe(line) + "-" + stamp + ".pdf";
}

SavedReport SaveReport(const LineResult &answer, const std::string &folder, double time) {
    std::string pdf;
    if (!json::DecodeBase64(Member(answer.response, "pdf"), pdf) || pdf.empty())
        return Failed("the answer carries no PDF in base64");
    const std::string digest = Sha256Hex(pdf);
    if (digest != Member(answer.response, "sha256"))
        return Failed("the PDF that came has the SHA-256 " + digest + ", not the " +
                      Member(answer.response, "sha256") + " the answer gives: not saved");
    const std::string name = ReportFileName(answer.line, time);
    const std::string stem = folder + "/" + name.substr(0, name.size() - 4);
    for (int copy = 1; copy <= kMostInAMinute; ++copy) {
        const std::string path = stem + (copy == 1 ? "" : "-" + std::to_string(copy)) + ".pdf";
        const int result       = CreateFileWhole(path.c_str(), pdf);
        if (result == 0)
            return {0, path, {}};
        if (result != -EEXIST)
            return Failed(path + " cannot be written: " + std::strerror(-result));
    }
    return Failed("the folder " + folder + " holds " + std::to_string(kMostInAMinute) +
                  " reports of " + answer.line + " of this minute already");
}

} // namespace plant

// Curve and chart export.
#include "exports.h"

#include "platform/files/textfile.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "record.h"
#include "ui.h"

#include <cstdio>
#include <filesystem>

namespace exports {

namespace {

struct Vars {
    std::optional<gui::DataCurve> capture; // the last one since the start
    std::string header;                    // the comment lines as they were at the capture
    std::time_t taken = 0;
};

Vars vars;

const char *SourceName(int source) {
    return source == gui::kSourceRaw ? "RAW" : "NORM";
}

std::string FileName(const std::string &path) {
    return std::filesystem::path(path).filename().string();
}

std::string WithoutExtension(const std::string &path, const std::string &extension) {
    const bool has = path.size() > extension.size() &&
                     path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
    return has ? path.substr(0, path.size() - extension.size()) : path;
}

// The path the operator chose, or empty when the dialog was cancelled.
std::string AskForPath(const char *title, int source, const char *extension) {
    const std::string name =
        std::string("RMX7curve-") + SourceName(source) + "-" + record::FileStamp() + extension;
    char path[kPathSize]     = {};
    const std::string filter = std::string("*") + extension;
    gui::MakeProjectDir();
    const int chosen = FileSelectPopup(gui::ProjectDir().c_str(), name.c_str(), filter.c_str(),
                                       title, kButtonSave, 0, 1, 1, 1, path);
    return chosen > 0 ? std::string(path) : std::string();
}

Outcome Shown(status::Result result, const std::string &text) {
    gui::ShowStatus(text.c_str());
    return {result, text};
}

} // namespace

void InitVars() {
    vars = Vars{};
}

void NoteCapture(const gui::DataCurve &curve) {
    vars.capture = curve;
    vars.header  = record::CommentHeader();
    vars.taken   = std::time(nullptr);
    DimSaveButtons(false);
}

const std::optional<gui::DataCurve> &LastCapture() {
    return vars.capture;
}

std::time_t LastCaptureTime() {
    return vars.taken;
}

std::string CurveCsv() {
    if (!vars.capture)
        return {};
    const gui::DataCurve &curve = *vars.capture;
    const bool raw              = curve.source == gui::kSourceRaw;
    std::string text            = vars.header;
    text += raw ? "x,A,B\n" : "x,NORM,upper,lower,reference\n";
    char row[96];
    for (int i = 0; i < gui::kCurvePoints; ++i) {
        if (raw)
            std::snprintf(row, sizeof row, "%d,%u,%u\n", i + 1, curve.a[i], curve.b[i]);
        else
            std::snprintf(row, sizeof row, "%d,%u,%u,%u,%u\n", i + 1, curve.a[i], curve.upper[i],
                          curve.lower[i], curve.reference[i]);
        text += row;
    }
    return text;
}

Outcome SaveCurve() {
    if (!vars.capture)
        return {status::Result::Cancelled, {}};
    const std::string chosen = AskForPath("Save curve", vars.capture->source, ".csv");
    if (chosen.empty())
        return {status::Result::Cancelled, {}};
    const std::string stem = WithoutExtension(chosen, ".csv");
    const std::string path = stem + ".csv";
    const std::string png  = stem + ".png";
    const std::string pdf  = stem + ".pdf";
    const int panel        = gui::Panel();
    // The first file that cannot be written ends the save.
    if (ReplaceTextFile(path.c_str(), CurveCsv()) != 0)
        return Shown(status::Result::FileFailed, status::CurveNotSaved(FileName(path)));
    if (SavePlotImage(panel, ui::GraphDATA, png.c_str(), kImagePng) != 0)
        return Shown(status::Result::FileFailed, status::CurveNotSaved(FileName(png)));
    if (SavePlotImage(panel, ui::GraphDATA, pdf.c_str(), kImagePdf) != 0)
        return Shown(status::Result::FileFailed, status::CurveNotSaved(FileName(pdf)));
    return Shown(status::Result::Ok, status::CurveSaved(FileName(stem)));
}

Outcome SaveChart() {
    const int source       = gui::GraphSource();
    const std::string path = AskForPath("Save chart", source, ".png");
    if (path.empty())
        return {status::Result::Cancelled, {}};
    const int chart = source == gui::kSourceRaw ? ui::ChartRAW : ui::ChartNORM;
    if (SavePlotImage(gui::Panel(), chart, path.c_str(), kImagePng) != 0)
        return Shown(status::Result::FileFailed, status::ChartNotSaved(FileName(path)));
    return Shown(status::Result::Ok, status::ChartSaved(FileName(path)));
}

void DimSaveButtons(bool runGoing) {
    SetCtrlAttribute(gui::Panel(), ui::BTNSaveChart, kAttrDimmed, runGoing);
    SetCtrlAttribute(gui::Panel(), ui::BTNSaveCurve, kAttrDimmed, runGoing || !vars.capture);
}

} // namespace exports

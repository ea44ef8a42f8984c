// Curve and chart export.
#include "exports.h"

#include "com232.h"
#include "gui.h"
#include "platform/files/textfile.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "record.h"
#include "ui.h"

#include <cstdio>
#include <filesystem>

namespace exports {

Vars vars;

namespace {

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
    const int chosen = FileSelectPopup(gui::vars.proj_dir, name.c_str(), filter.c_str(), title,
                                       kButtonSave, 0, 1, 1, 1, path);
    return chosen > 0 ? std::string(path) : std::string();
}

void ReportFailure(const char *what, const std::string &path) {
    char text[com232::kStatusSize];
    std::snprintf(text, sizeof text, "%s not saved - cannot write %s!", what,
                  FileName(path).c_str());
    gui::ShowStatus(text);
}

} // namespace

void NoteCapture(int source) {
    vars.captured = true;
    vars.source   = source;
    vars.header   = record::CommentHeader();
    DimSaveButtons(false);
}

std::string CurveCsv() {
    std::string text = vars.header;
    const bool raw   = vars.source == gui::kSourceRaw;
    text += raw ? "x,A,B\n" : "x,NORM,upper,lower,reference\n";
    char row[96];
    for (int i = 0; i < gui::kCurvePoints; ++i) {
        if (raw)
            std::snprintf(row, sizeof row, "%d,%u,%u\n", i + 1, com232::vars.yArrayA[i],
                          com232::vars.yArrayB[i]);
        else
            std::snprintf(row, sizeof row, "%d,%u,%u,%u,%u\n", i + 1, com232::vars.yArrayA[i],
                          gui::vars.upArray[i], gui::vars.loArray[i], gui::vars.refArray[i]);
        text += row;
    }
    return text;
}

void SaveCurve() {
    if (!vars.captured)
        return;
    const std::string chosen = AskForPath("Save curve", vars.source, ".csv");
    if (chosen.empty())
        return;
    const std::string stem = WithoutExtension(chosen, ".csv");
    const std::string path = stem + ".csv";
    const std::string png  = stem + ".png";
    const std::string pdf  = stem + ".pdf";
    const int panel        = gui::vars.pHandle;
    if (ReplaceTextFile(path.c_str(), CurveCsv()) != 0)
        return ReportFailure("Curve", path);
    if (SavePlotImage(panel, ui::GraphDATA, png.c_str(), kImagePng) != 0)
        return ReportFailure("Curve", png);
    if (SavePlotImage(panel, ui::GraphDATA, pdf.c_str(), kImagePdf) != 0)
        return ReportFailure("Curve", pdf);
    gui::ShowStatus(("Curve saved: " + FileName(stem) + ".csv, .png, .pdf").c_str());
}

void SaveChart() {
    const int source       = gui::GraphSource();
    const std::string path = AskForPath("Save chart", source, ".png");
    if (path.empty())
        return;
    const int chart = source == gui::kSourceRaw ? ui::ChartRAW : ui::ChartNORM;
    if (SavePlotImage(gui::vars.pHandle, chart, path.c_str(), kImagePng) != 0)
        return ReportFailure("Chart", path);
    gui::ShowStatus(("Chart saved: " + FileName(path)).c_str());
}

void DimSaveButtons(bool runGoing) {
    SetCtrlAttribute(gui::vars.pHandle, ui::BTNSaveChart, kAttrDimmed, runGoing);
    SetCtrlAttribute(gui::vars.pHandle, ui::BTNSaveCurve, kAttrDimmed, runGoing || !vars.captured);
}

} // namespace exports

// Curve and chart export.
#include "exports.h"

#include "platform/files/textfile.h"
#include "platform/panel/panel.h"
#include "record.h"

#include <cstdio>
#include <filesystem>
#include <utility>

namespace exports {

namespace {

const char *SourceName(com232::GraphSource source) {
    return source == com232::GraphSource::Raw ? "RAW" : "NORM";
}

std::string FileName(const std::string &path) {
    return std::filesystem::path(path).filename().string();
}

std::string WithoutExtension(const std::string &path, const std::string &extension) {
    const bool has = path.size() > extension.size() &&
                     path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
    return has ? path.substr(0, path.size() - extension.size()) : path;
}

} // namespace

std::string CurveFileName(com232::GraphSource source, const char *extension) {
    return std::string("RMX7curve-") + SourceName(source) + "-" + record::FileStamp() + extension;
}

void Exports::InitVars() {
    capture_.reset();
    header_.clear();
    taken_ = 0;
}

void Exports::NoteCapture(const gui::DataCurve &curve, std::string header) {
    capture_ = curve;
    header_  = std::move(header);
    taken_   = std::time(nullptr);
}

std::string Exports::CurveCsv() const {
    if (!capture_)
        return {};
    const gui::DataCurve &curve = *capture_;
    const bool raw              = curve.source == com232::GraphSource::Raw;
    std::string text            = header_;
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

Outcome Exports::SaveCurve(const std::string &chosen, const Picture &graph) const {
    const std::string stem = WithoutExtension(chosen, ".csv");
    const std::string path = stem + ".csv";
    const std::string png  = stem + ".png";
    const std::string pdf  = stem + ".pdf";
    if (ReplaceTextFile(path.c_str(), CurveCsv()) != 0)
        return {status::Result::FileFailed, status::CurveNotSaved(FileName(path))};
    if (graph(png.c_str(), kImagePng) != 0)
        return {status::Result::FileFailed, status::CurveNotSaved(FileName(png))};
    if (graph(pdf.c_str(), kImagePdf) != 0)
        return {status::Result::FileFailed, status::CurveNotSaved(FileName(pdf))};
    return {status::Result::Ok, status::CurveSaved(FileName(stem))};
}

Outcome SaveChart(const std::string &path, const Picture &chart) {
    if (chart(path.c_str(), kImagePng) != 0)
        return {status::Result::FileFailed, status::ChartNotSaved(FileName(path))};
    return {status::Result::Ok, status::ChartSaved(FileName(path))};
}

} // namespace exports

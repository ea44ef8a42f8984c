// The commissioning report's writer: milliseconds to lay out, draw and write one report
// with a NORM capture, the first in the process (fonts loaded) and the median of the
// following ones. Offscreen; writes its own JSON file, and keeps the last report when a
// path for it is given (an example to look at).
#include "parameters.h"
#include "platform/panel/panel.h"
#include "platform/report/fingerprint.h"
#include "platform/report/pdf_report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWrites = 11;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A unit as the panel would describe it: RAM and EEPROM differing in three words, one
// value typed and not sent, a parameter file loaded, a noisy NORM curve through the beam.
ReportDocument Example() {
    const char *labels[16] = {
        "Power", "Reference",       "Hysteresis",   "Polarity",          "Hold time",   "HW mode",
        "",      "Evaluation mode", "Min/max time", "Min/max threshold", "Switch delay"};
    const std::uint16_t ram[16] = {500, 512, 10, 1, 100, 1, 2, 0, 20, 50, 1};
    std::uint16_t eeprom[16]    = {};
    std::copy(ram, ram + 16, eeprom);
    eeprom[0] = 480, eeprom[2] = 12, eeprom[8] = 25;

    ReportDocument d;
    d.title   = "Commissioning report";
    d.program = "K-VEX-RMX7-PIRA-Scope V2.0";
    d.author  = "operator";
    d.header  = {{"Program", d.program},
                 {"Firmware", "RMX7 sensor controller FW 3.14 board 100"},
                 {"Board variant", "100"},
                 {"Port", "COM2"},
                 {"Device", "/dev/ttyUSB0"},
                 {"Description", "FT232R USB UART, FTDI, S/N A50285BI"},
                 {"Stable name", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
                 {"Computer", "line3-pc"},
                 {"Date and time", "2026-03-04 10:15:02 CET (+0100)"},
                 {"Operator", "operator"}};
    d.unitId  = "U-4711";
    d.station = "Line 3/7";
    for (int w = 0; w < 16; ++w) {
        const parameters::Parameter &p = parameters::kTable[w];
        d.parameters.rows.push_back({w, p.name, w < 11 ? labels[w] : "", ram[w], eeprom[w],
                                     static_cast<std::uint16_t>(w == 1 ? 520 : ram[w]), w == 1,
                                     eeprom[w], p.unit, p.meaning});
    }
    d.parameters.panelColumn = true;
    d.parameters.fileName    = "RMX7para.dat";
    d.fingerprint            = ParameterFingerprint(eeprom);

    d.capture = {true, "NORM", "2026-03-04 10:14:40 CET (+0100)", "Sample", parameters::kAdcUnits,
                 {},   ""};
    ReportCurve norm{"NORM", {}, 0xFF0000, true, false};
    unsigned noise = 12345;
    for (int k = 0; k < 128; ++k) {
        noise = noise * 1103515245u + 12345u;
        norm.y.push_back(static_cast<std::uint16_t>(
            155 + 590 * std::exp(-(k - 63) * (k - 63) / 700.0) + (noise >> 16 & 7)));
    }
    d.capture.curves = {norm,
                        {"upper threshold", std::vector<std::uint16_t>(128, 522), 0x008000, true},
                        {"lower threshold", std::vector<std::uint16_t>(128, 502), 0x008000, true},
                        {"reference", std::vector<std::uint16_t>(128, 512), 0x000000, false, true}};
    d.note           = "Mounted on line 3, station 7. Beam aligned, target at 40 mm.\n"
                       "EEPROM left as delivered until the acceptance run.";
    return d;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rmx7reportbench OUTPUT.json [EXAMPLE.pdf]\n");
        return 2;
    }
    const std::string output = argv[1];
    const std::string example =
        argc > 2 ? argv[2] : (std::filesystem::path(output).parent_path() / "report.pdf").string();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!StartEngine(argc, argv))
        return 1;
    const ReportDocument document = Example();
    std::vector<double> ms;
    for (int i = 0; i < kWrites; ++i) {
        const auto start               = std::chrono::steady_clock::now();
        const ReportWriteResult result = WriteReport(document, example.c_str());
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (!result) {
            std::fprintf(stderr, "rmx7reportbench: %s\n", result.reason.c_str());
            return 1;
        }
    }
    const double first = ms.front();
    ms.erase(ms.begin());
    const double median = Median(ms);
    std::printf("%-30s %12.1f\n%-30s %12.1f\n", "report_write_first_ms", first, "report_write_ms",
                median);
    std::ofstream json(output);
    json << "{\n  \"report_write_first_ms\": " << first << ",\n  \"report_write_ms\": " << median
         << "\n}\n";
    if (argc <= 2)
        std::filesystem::remove(example);
    StopEngine();
    return json ? 0 : 1;
}

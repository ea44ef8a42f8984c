// The commissioning report as a reader of the file finds it (poppler's tools), and the
// fingerprint of a parameter set against sha256sum.
#include "platform/report/fingerprint.h"
#include "platform/report/pdf_report.h"
#include "support/limits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const char *const kNames[16] = {
    "power",  "reference", "hysteresis", "polarity", "hold",   "hwmode", "average", "evalmode",
    "mmtime", "mmthd",     "sdelay",     "para12",   "para13", "para14", "para15",  "para16"};

std::string Output(const std::string &command) {
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (std::size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        text.append(chunk, n);
    if (pipe)
        pclose(pipe);
    return text;
}

// Words 2, 6 and 11 differ between RAM and EEPROM; power is typed and not sent.
ReportDocument Filled() {
    ReportDocument d;
    d.title   = "Commissioning report";
    d.program = "K-VEX-RMX7-PIRA-Scope V2.0";
    d.author  = "Jana Novák";
    d.unitId  = "U-4711";
    d.station = "Line 3/7";
    d.header  = {{"Firmware", "RMX7 sensor controller FW 3.14"},
                 {"Board variant", "100"},
                 {"Port", "COM2 /dev/ttyUSB0"},
                 {"Stable name", "usb-FTDI_FT232R-if00-port0"},
                 {"Computer", "line3-pc"},
                 {"Date and time", "2026-03-04 10:15:00 CET"},
                 {"Operator", "Jana Novák"}};
    for (int w = 0; w < 16; ++w) {
        const auto value   = static_cast<std::uint16_t>(w * 37 + 5);
        const bool differs = w == 2 || w == 6 || w == 11;
        d.parameters.rows.push_back(
            {w, kNames[w], w < 11 ? "Label " + std::to_string(w) : "", value,
             static_cast<std::uint16_t>(differs ? value + 1000 : value),
             static_cast<std::uint16_t>(w == 0 ? 640 : value), w == 0,
             static_cast<std::uint16_t>(value + 2000), w == 1 ? "ADC units" : "",
             w < 11 ? "What word " + std::to_string(w) + " is." : "Reserved: always sent as 0."});
    }
    d.parameters.panelColumn = true;
    d.parameters.fileName    = "RMX7para-unit42.dat";
    d.fingerprint            = "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0";
    d.capture = {true, "NORM", "2026-03-04 10:14:40 CET", "Sample", "NORM=RAW / [ADC-units]",
                 {},   ""};
    ReportCurve norm{"NORM", {}, 0xFF0000, true, false};
    for (int k = 0; k < 128; ++k)
        norm.y.push_back(
            static_cast<std::uint16_t>(150 + 600 * std::exp(-(k - 64) * (k - 64) / 400.0)));
    d.capture.curves = {
        norm,
        {"upper threshold", std::vector<std::uint16_t>(128, 522), 0x008000, true, false},
        {"reference", std::vector<std::uint16_t>(128, 512), 0x000000, false, true}};
    d.note = "Mounted on line 3.\nBeam aligned.";
    return d;
}

struct ReportFile : testing::Test {
    fs::path folder = fs::path(testing::TempDir()) / "report_test";
    fs::path pdf    = folder / "unit.pdf";
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }
    // A poppler tool's standard output for the report (pdftotext's text too).
    std::string Tool(const std::string &tool, const std::string &options = "") {
        const std::string toStdout = tool == "pdftotext" ? " -" : "";
        return Output(tool + " " + options + " '" + pdf.string() + "'" + toStdout + " 2>/dev/null");
    }
};

TEST_F(ReportFile, HoldsTheHeaderEveryWordWithItsValuesAndMarksAndTheFingerprint) {
    const ReportDocument d = Filled();
    ASSERT_TRUE(WriteReport(d, pdf.c_str()));
    const std::string text = Tool("pdftotext", "-layout");
    for (const auto &row : d.header)
        EXPECT_NE(text.find(row.value), std::string::npos) << row.label;
    for (const auto &row : d.parameters.rows) {
        // word, name, label, RAM, EEPROM, mark, panel (where a control shows it), mark, file
        std::ostringstream line;
        line << "\\s" << row.word << "\\s+" << row.name << "\\s+" << row.panelLabel << "\\s+"
             << row.ram << "\\s+" << row.eeprom << "\\s+"
             << (row.ram != row.eeprom ? "≠ differs\\s+" : "")
             << (row.panelLabel.empty() ? "" : std::to_string(row.panel) + "\\s+")
             << (row.notSent ? "not sent\\s+" : "") << row.file << "\\n";
        EXPECT_TRUE(std::regex_search(text, std::regex(line.str()))) << line.str();
    }
    EXPECT_NE(text.find("differ in 3 of 16 words"), std::string::npos);
    EXPECT_NE(text.find("RMX7para-unit42.dat"), std::string::npos);
    EXPECT_NE(text.find(d.fingerprint), std::string::npos);
    for (const char *also :
         {"Source NORM, captured 2026-03-04 10:14:40 CET", "Beam aligned.", "upper threshold",
          "Sample", "Commissioned by", "Accepted by", "Signature"})
        EXPECT_NE(text.find(also), std::string::npos) << also;
    // Each word's unit and meaning; the reserved words, alike, in one row.
    for (const char *row :
         {"\\s1\\s+reference\\s+ADC units\\s+What word 1 is\\.\\n",
          "\\s2\\s+hysteresis\\s+-\\s+What word 2 is\\.\\n",
          "\\s11-15\\s+para12 to para16\\s+-\\s+Reserved: always sent as 0\\.\\n"})
        EXPECT_TRUE(std::regex_search(text, std::regex(row))) << row;
}

TEST_F(ReportFile, IsAnArchivalFileOfEmbeddedFontsVectorsAndAFootOnEveryPage) {
    const struct {
        bool capture;
        int noteLines, pages;
    } cases[] = {{true, 2, 3}, {false, 150, 5}};
    for (const auto &c : cases) {
        ReportDocument d     = Filled();
        d.capture.present    = c.capture;
        d.capture.absentNote = "No data curve captured since the program started.";
        for (int i = 0; i < c.noteLines; ++i)
            d.note += "\nline " + std::to_string(i);
        ASSERT_TRUE(WriteReport(d, pdf.c_str()));
        const std::string info  = Tool("pdfinfo");
        const std::string pages = "Pages:\\s+" + std::to_string(c.pages) + "\\n";
        EXPECT_TRUE(std::regex_search(info, std::regex(pages))) << info;
        for (const std::string entry :
             {"Title:\\s+Commissioning report\\n", "Author:\\s+Jana Novák\\n",
              "Creator:\\s+K-VEX-RMX7-PIRA-Scope V2.0\\n"})
            EXPECT_TRUE(std::regex_search(info, std::regex(entry))) << entry << info;
        const std::string meta = Tool("pdfinfo", "-meta");
        for (const char *xmp :
             {"pdfaid:part=\"1\"", "pdfaid:conformance=\"B\"", "<rdf:li>Jana Novák</rdf:li>"})
            EXPECT_NE(meta.find(xmp), std::string::npos) << xmp << meta;
        std::istringstream fonts(Tool("pdffonts"));
        int embedded = 0; // rows end in: emb sub uni object generation
        const std::regex row(R"(^(\S+) .* (yes|no) +(yes|no) +(yes|no) +\d+ +\d+ *$)");
        std::smatch match;
        for (std::string line; std::getline(fonts, line);)
            if (std::regex_match(line, match, row)) {
                EXPECT_EQ(match[2], "yes") << line;
                ++embedded;
            }
        EXPECT_GE(embedded, 2);
        const std::string images = Tool("pdfimages", "-list");
        EXPECT_EQ(std::count(images.begin(), images.end(), '\n'), 2) << images;
        for (int page = 1; page <= c.pages; ++page) {
            const std::string text = Tool("pdftotext", "-layout -f " + std::to_string(page) +
                                                           " -l " + std::to_string(page));
            const std::string foot =
                "Page " + std::to_string(page) + " of " + std::to_string(c.pages);
            EXPECT_TRUE(
                std::regex_search(text, std::regex("Unit U-4711, station Line 3/7 +" + foot)))
                << "which unit a loose page is of: " << foot;
            EXPECT_NE(text.find("K-VEX-RMX7-PIRA-Scope V2.0"), std::string::npos) << page;
        }
        EXPECT_EQ(Tool("pdftotext").find(d.capture.absentNote) != std::string::npos, !c.capture);
    }
}

TEST_F(ReportFile, AFailedWriteLeavesNothingBehindAndAPlantedLinkIsNeverFollowed) {
    fs::create_directories(folder / "taken.pdf");
    const struct {
        fs::path path;
        int error;
    } cases[] = {{folder / "missing" / "unit.pdf", -ENOENT}, {folder / "taken.pdf", -EISDIR}};
    for (const auto &c : cases) {
        const ReportWriteResult result = WriteReport(Filled(), c.path.c_str());
        EXPECT_EQ(result.error, c.error) << c.path;
        EXPECT_NE(result.reason.find(c.path.string()), std::string::npos) << result.reason;
    }
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_TRUE(fs::is_empty(folder / "taken.pdf"));

    // Another account plants the old temporary's name as a link to a file of the user's.
    const fs::path mine = folder / "mine.txt", planted = folder / "unit.pdf.part";
    std::ofstream(mine) << "mine\n";
    fs::create_symlink(mine, planted);
    ASSERT_TRUE(WriteReport(Filled(), pdf.c_str()));
    EXPECT_TRUE(Output("cat '" + mine.string() + "'") == "mine\n") << "written through the link";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(pdf)));

    // A file-size limit (ulimit -f) is a failure like a full disk, not the process's end.
    std::ofstream(pdf) << "old\n";
    {
        const ProcessLimit small(RLIMIT_FSIZE, 1024);
        const ReportWriteResult result = WriteReport(Filled(), pdf.c_str());
        EXPECT_EQ(result.error, -EFBIG);
        EXPECT_NE(result.reason.find("File too large"), std::string::npos) << result.reason;
    }
    EXPECT_EQ(Output("cat '" + pdf.string() + "'"), "old\n");
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"mine.txt", "taken.pdf", "unit.pdf", "unit.pdf.part"}))
        << "no temporary is left";
}

TEST(Fingerprint, IsTheSha256OfTheSixteenWordsAsAFrameCarriesThem) {
    const std::uint16_t sets[][16] = {
        {500, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1},
        {0xFFFF, 0x1234, 0x00FF, 0xFF00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x8000}};
    const fs::path bytes = fs::path(testing::TempDir()) / "fingerprint.bin";
    for (const auto &words : sets) {
        std::ofstream out(bytes, std::ios::binary);
        for (const std::uint16_t word : words)
            out.put(static_cast<char>(word >> 8)).put(static_cast<char>(word & 0xFF));
        out.close();
        const std::string expected = Output("sha256sum '" + bytes.string() + "'").substr(0, 64);
        EXPECT_EQ(ParameterFingerprint(words), expected);
    }
    fs::remove(bytes);
}

} // namespace

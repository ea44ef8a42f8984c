// The recording viewer: reading back what Record writes, refusing files that are not
// recordings, and the View recording button.
#include "app.h"
#include "gui.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/viewer/viewer.h"
#include "record.h"
#include "recording_file.h"
#include "support/limits.h"
#include "support/panel_fixture.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#define HEADER "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate\n"

static std::string chosen; // the file the dialog answers with

// A field of /proc/self/status in bytes ("VmHWM", "VmSize").
static long long StatusBytes(const std::string &field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stoll(line.substr(field.size() + 1)) << 10;
    return 0;
}
static long long PeakMemory() {
    return StatusBytes("VmHWM");
}
static rlim_t AddressSpace() {
    return static_cast<rlim_t>(StatusBytes("VmSize"));
}

static void PressViewRecording(app::Program &program, const std::string &path) {
    chosen = path;
    SetFileSelectResponder([](const char *, int, char *answer) {
        std::snprintf(answer, kPathSize, "%s", chosen.c_str());
        return kSelectExisting;
    });
    app::CC_BTNViewRecording(program.PanelHandle(), 0, kEventCommit, &program, 0, 0);
}

TEST_F(PanelTest, TheViewerReadsBackEveryCommentAndRowTheRecorderWrote) {
    record::Recorder &recorder = program().Recorder();
    recorder.StartRecording();
    for (std::uint16_t i = 0; i < 2; ++i) {
        com232::LiveReply v;
        v.valNORM = 65535 - i, v.adcCHA = 1 + i, v.adcCHB = 2 + i, v.Amax = 3 + i, v.Amin = 4 + i;
        v.UPval = 5 + i, v.LOval = 6 + i, v.refval = 7 + i, v.instate = 8 + i;
        recorder.AppendReply(v, recorder.RunStart() + 0.25 * i);
    }
    recorder.StopRecording();
    const std::string path = recorder.RecordingPath();
    recording::Recording read;
    std::string error;
    ASSERT_TRUE(recording::LoadRecording(path, read, error)) << error;
    ASSERT_EQ(read.comments.size(), 5u) << "program, firmware, port, parameters, run start";
    EXPECT_EQ(read.comments[0], "program K-VEX-RMX7-PIRA-Scope V2.0");
    ASSERT_EQ(read.Rows(), 2u);
    for (int i = 0; i < 2; ++i)
        for (int c = 0; c < recording::kColumnCount; ++c) // valNORM zero-extended, not -1
            EXPECT_EQ(read.columns[c][i], c == 0 ? 0.25 * i : c == 1 ? 65535 - i : c - 1 + i) << c;
    PressViewRecording(program(), path);
    EXPECT_EQ(StatusLine().rfind("Recording shown: RMX7live-", 0), 0u) << StatusLine();
    EXPECT_EQ(OpenViewerCount(), 1);
    CloseViewers();
    std::filesystem::remove(path);
}

TEST_F(PanelTest, AFileThatIsNotARecordingIsRefusedWithItsLineAndNothingShown) {
    const std::string dir = testing::TempDir();
    const struct {
        const char *name, *text, *error; // text nullptr: no such file
    } cases[] = {
        // clang-format off
        {"gone.csv", nullptr, "gone.csv: cannot read it: No such file or directory"},
        {"empty.csv", "", "empty.csv: the file is empty"},
        {"notes.csv", "# program\n# port COM1\n", "notes.csv: line 2: the file ends before the column header"},
        {"curve.csv", "# program\nx,A,B\n1,2,3\n", "curve.csv: line 2: the columns are not those of a recording"},
        {"none.csv", HEADER, "none.csv: line 1: no rows after the column header"},
        {"short.csv", HEADER "0.0,1,2\n", "short.csv: line 2: 3 fields where a row has 10"},
        {"word.csv", HEADER "0.0,1,2,x,4,5,6,7,8,3\n", "word.csv: line 2: adcCHB 'x' is not a whole number"},
        {"time.csv", HEADER "zero,1,2,3,4,5,6,7,8,3\n", "time.csv: line 2: time_s 'zero' is not a number"},
        {"back.csv", HEADER "2.0,1,2,3,4,5,6,7,8,3\n1.5,1,2,3,4,5,6,7,8,3\n",
         "back.csv: line 3: time_s '1.5' goes back from the row above"},
        // clang-format on
    };
    for (const auto &c : cases) {
        const std::string path = dir + c.name;
        if (c.text)
            std::ofstream(path) << c.text;
        PressViewRecording(program(), path);
        EXPECT_EQ(StatusLine(), std::string("Recording not shown - ") + c.error);
        EXPECT_EQ(OpenViewerCount(), 0) << c.name;
        std::filesystem::remove(path);
    }

    // What cannot be a recording is refused unread: endless, waiting or too large.
    const std::string pipe = dir + "pipe.csv", big = dir + "big.csv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::ofstream(big) << "";
    std::filesystem::resize_file(big, 257 << 20); // sparse: nothing is written
    const std::pair<std::string, std::string> unread[] = {
        {"/dev/zero", "zero: not a file but a device or a pipe"},
        {pipe, "pipe.csv: not a file but a device or a pipe"},
        {big, "big.csv: 257 MB, more than the 256 MB a recording may have"},
    };
    for (const auto &[path, error] : unread) {
        PressViewRecording(program(), path);
        EXPECT_EQ(StatusLine(), "Recording not shown - " + error);
    }
    std::filesystem::remove(pipe);
    std::filesystem::remove(big);
    // A header and then millions of empty lines takes no memory for rows before they are
    // checked: under an address space of 256 MB to spare it is refused at its first line.
    const std::string empty = std::string(HEADER) + std::string(20'000'000, '\n');
    recording::Recording read;
    std::string error;
    {
        const ProcessLimit spare(RLIMIT_AS, AddressSpace() + (256 << 20));
        EXPECT_FALSE(recording::ReadRecording(empty, read, error));
    }
    EXPECT_EQ(error, "line 2: 1 field where a row has 10");
}

TEST_F(PanelTest, AMillionCommentLinesOpenWithAFewHundredShownAndTheRestCounted) {
    const std::string path = testing::TempDir() + "comments.csv";
    {
        std::ofstream file(path);
        for (int line = 0; line < 1'000'000; ++line)
            file << "#\n";
        file << HEADER "0.0,1,2,3,4,5,6,7,8,3\n";
    }
    recording::Recording read;
    std::string error;
    ASSERT_TRUE(recording::LoadRecording(path, read, error)) << error;
    EXPECT_EQ(read.comments.size(), recording::kKeptComments);
    EXPECT_EQ(read.moreComments, 1'000'000 - recording::kKeptComments);
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak from here on
    PressViewRecording(program(), path);
    EXPECT_EQ(StatusLine(), "Recording shown: comments.csv");
    EXPECT_EQ(OpenViewerCount(), 1);
    EXPECT_LT(PeakMemory(), 300 << 20);
    CloseViewers();
    std::filesystem::remove(path);
}

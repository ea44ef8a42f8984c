// The recording viewer: reading back what Record writes, refusing files that are not
// recordings, and the View recording button.
#include "app.h"
#include "gui.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/viewer/viewer.h"
#include "record.h"
#include "recording_file.h"
#include "support/panel_fixture.h"

#include <filesystem>
#include <fstream>

#define HEADER "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate\n"

static std::string chosen; // the file the dialog answers with

static void PressViewRecording(int panel, const std::string &path) {
    chosen = path;
    SetFileSelectResponder([](const char *, int, char *answer) {
        std::snprintf(answer, kPathSize, "%s", chosen.c_str());
        return kSelectExisting;
    });
    app::CC_BTNViewRecording(panel, 0, kEventCommit, nullptr, 0, 0);
}

TEST_F(PanelTest, TheViewerReadsBackEveryCommentAndRowTheRecorderWrote) {
    gui::SetProjectDir(testing::TempDir());
    record::StartRecording();
    for (std::uint16_t i = 0; i < 2; ++i) {
        com232::LiveReply v;
        v.valNORM = 65535 - i, v.adcCHA = 1 + i, v.adcCHB = 2 + i, v.Amax = 3 + i, v.Amin = 4 + i;
        v.UPval = 5 + i, v.LOval = 6 + i, v.refval = 7 + i, v.instate = 8 + i;
        record::AppendReply(v, record::RunStart() + 0.25 * i);
    }
    record::StopRecording();
    const std::string path = record::RecordingPath();
    recording::Recording read;
    std::string error;
    ASSERT_TRUE(recording::LoadRecording(path, read, error)) << error;
    ASSERT_EQ(read.comments.size(), 5u) << "program, firmware, port, parameters, run start";
    EXPECT_EQ(read.comments[0], "program K-VEX-RMX7-PIRA-Scope V2.0");
    ASSERT_EQ(read.Rows(), 2u);
    for (int i = 0; i < 2; ++i)
        for (int c = 0; c < recording::kColumnCount; ++c) // valNORM zero-extended, not -1
            EXPECT_EQ(read.columns[c][i], c == 0 ? 0.25 * i : c == 1 ? 65535 - i : c - 1 + i) << c;
    PressViewRecording(panel, path);
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
        PressViewRecording(panel, path);
        EXPECT_EQ(StatusLine(), std::string("Recording not shown - ") + c.error);
        EXPECT_EQ(OpenViewerCount(), 0) << c.name;
        std::filesystem::remove(path);
    }
}

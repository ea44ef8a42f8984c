// Panel values, histories, plots and LEDs.
#include "support/panel_fixture.h"

#include "com232.h"
#include "gui.h"
#include "platform/arrayfile.h"
#include "platform/panel.h"
#include "ui.h"

using namespace gui;

TEST(History, FillsPutTheirLevelsInEverySample) {
    FillarrayRAW(3, 5);
    for (int i = 0; i < kRawValues; ++i)
        ASSERT_EQ(vars.arrayRAW[i], i % 2 ? 5 : 3);
    FillarrayNORM(512, 0);
    for (int s = 0; s < kSamples; ++s) {
        ASSERT_EQ(vars.arrayNORM[4 * s], 0);
        ASSERT_EQ(vars.arrayNORM[4 * s + 2], 512);
        ASSERT_EQ(vars.arrayNORM[4 * s + 3], 0);
    }
}

TEST(History, ShiftMovesInPlaceWithZeroFillBothWays) {
    double a[200];
    for (int i = 0; i < 200; ++i)
        a[i] = i + 1;
    ASSERT_EQ(Shift(a, 200, -2, a), 0);
    EXPECT_EQ(a[0], 3);
    EXPECT_EQ(a[197], 200);
    EXPECT_EQ(a[198], 0);
    EXPECT_EQ(a[199], 0);
    ASSERT_EQ(Shift(a, 200, 2, a), 0);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[1], 0);
    EXPECT_EQ(a[2], 3);
    EXPECT_EQ(a[199], 200);
}

TEST(History, ShiftAndCopyRejectBadCountsAndWriteNothing) {
    double in[4] = {1, 2, 3, 4}, out[4] = {9, 9, 9, 9};
    EXPECT_EQ(Shift(in, 4, 4, out), kShiftTooFar);
    EXPECT_EQ(Shift(in, 4, -4, out), kShiftTooFar);
    EXPECT_EQ(Shift(in, 0, 0, out), kShiftBadCount);
    EXPECT_EQ(Shift(in, 0, 9, out), kShiftBadCount) << "the count is tested first";
    EXPECT_EQ(Copy1D(in, 0, out), kShiftBadCount);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(Shift(in, 4, 0, out), 0);
    EXPECT_EQ(out[3], 4);
}

TEST(ArrayText, ReadsSixteenUnsignedNumbersOrSaysWhatIsWrong) {
    unsigned int v[3] = {7, 7, 7};
    EXPECT_EQ(ParseArrayText("  1\n 22\n333\n", v, 3), 3);
    EXPECT_EQ(v[2], 333u);
    EXPECT_EQ(ParseArrayText("1 2", v, 3), kFileErrTooFew);
    EXPECT_EQ(ParseArrayText("1 2 3x", v, 3), kFileErrNotNumber);
    EXPECT_EQ(ParseArrayText("1 -2 3", v, 3), kFileErrNotNumber);
    EXPECT_EQ(v[2], 333u) << "a failed read writes nothing";
    EXPECT_EQ(ParseArrayText("4294967297 0 0", v, 3), 3);
    EXPECT_EQ(v[0], 1u) << "over-long numbers keep their low bits";
    const unsigned int w[2] = {65535, 7};
    EXPECT_EQ(FormatArrayText(w, 2, 5), "65535\n    7\n");
}

class Plots : public PanelTest {
  protected:
    void Reply(std::vector<std::uint16_t> words) {
        std::copy(words.begin(), words.end(), com232::vars.pp);
    }
};

TEST_F(Plots, PanelReadZeroesTheWordsWithoutControlsButNotAverage) {
    com232::vars.params.para12  = 7;
    com232::vars.params.average = 3;
    SetCtrlVal(panel, ui::mmthd, 65535);
    GetPanelValues();
    EXPECT_EQ(com232::vars.params.para12, 0);
    EXPECT_EQ(com232::vars.params.average, 3);
    EXPECT_EQ(com232::vars.params.mmthd, 65535);
}

TEST_F(Plots, LedsShowTheTwoStateBitsAndIgnoreOtherStates) {
    const struct {
        int state, led1, led2;
    } cases[] = {{0, 0, 0}, {1, 1, 0}, {2, 0, 1}, {3, 1, 1}, {4, 1, 1}, {-1, 1, 1}};
    for (const auto &c : cases) {
        DispLEDState(c.state);
        EXPECT_EQ(Value(ui::LEDState1), c.led1) << c.state;
        EXPECT_EQ(Value(ui::LEDState2), c.led2) << c.state;
    }
}

TEST_F(Plots, ReferenceShownIsTheParameterForHwMode0And2ElseTheControllers) {
    com232::vars.params.reference = 512;
    for (int mode : {0, 1, 2, 3}) {
        SetCtrlVal(panel, ui::hwmode, mode);
        Reply({0xFFFF, 1, 2, 3, 4, 5, 6, 700, 3});
        PlotNORMValues(vars.arrayNORM);
        const int expected = (mode == 0 || mode == 2) ? 512 : 700;
        EXPECT_EQ(Value(ui::valREF), expected) << mode;
        EXPECT_EQ(vars.arrayNORM[kNormValues - 2], expected);
    }
    EXPECT_EQ(Value(ui::valNORM), 65535) << "NORM is taken zero-extended";
    EXPECT_EQ(vars.arrayNORM[kNormValues - 1], 65535);
    EXPECT_EQ(vars.arrayNORM[kNormValues - 3], 0);
}

TEST_F(Plots, RawPlotAppendsTheChannelsAndFillsTheIndicatorsInOrder) {
    FillarrayRAW(0, 0);
    Reply({10, 20, 30, 40, 50, 60, 70, 80, 1});
    PlotRAWValues();
    Reply({11, 21, 31, 41, 51, 61, 71, 81, 2});
    PlotRAWValues();
    EXPECT_EQ(vars.arrayRAW[kRawValues - 4], 20);
    EXPECT_EQ(vars.arrayRAW[kRawValues - 3], 30);
    EXPECT_EQ(vars.arrayRAW[kRawValues - 2], 21);
    EXPECT_EQ(vars.arrayRAW[kRawValues - 1], 31);
    EXPECT_EQ(Value(ui::adcCHA), 21);
    EXPECT_EQ(Value(ui::Amax), 41);
    EXPECT_EQ(Value(ui::UPval), 61);
    EXPECT_EQ(Value(ui::LOval), 71);
    EXPECT_EQ(Value(ui::LEDState2), 1);
    int traces = 0;
    GetCtrlAttribute(panel, ui::ChartRAW, kAttrNumTraces, &traces);
    EXPECT_EQ(traces, 2);
}

TEST_F(Plots, DataCurveFollowsTheSourceReadAtDrawing) {
    for (int source : {0, 1}) {
        SetCtrlVal(panel, ui::RNGGraphSource, source);
        SetCtrlAttribute(panel, ui::ChartRAW, kAttrVisible, 1);
        PlotDATACurve(com232::vars.yArrayA, com232::vars.yArrayB, vars.upArray, vars.loArray,
                      vars.refArray);
        int visible = 1;
        GetCtrlAttribute(panel, ui::ChartRAW, kAttrVisible, &visible);
        EXPECT_EQ(visible, 0);
    }
}

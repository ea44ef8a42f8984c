// The live plots, the reference shown and the LEDs.
#include "support/panel_fixture.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel.h"
#include "ui.h"

using namespace gui;

class Plots : public PanelTest {
  protected:
    void Reply(std::vector<std::uint16_t> words) {
        std::copy(words.begin(), words.end(), com232::vars.pp);
    }
};

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

TEST_F(Plots, NormPlotShowsTheParameterReferenceForHwMode0And2ElseTheControllers) {
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
    EXPECT_EQ(std::vector<double>(vars.arrayRAW + kRawValues - 4, vars.arrayRAW + kRawValues),
              (std::vector<double>{20, 30, 21, 31}));
    const std::pair<int, int> shown[] = {{ui::adcCHA, 21}, {ui::Amax, 41},  {ui::Amin, 51},
                                         {ui::UPval, 61},  {ui::LOval, 71}, {ui::LEDState2, 1}};
    for (const auto &[control, value] : shown)
        EXPECT_EQ(Value(control), value) << control;
    EXPECT_EQ(Attribute(ui::ChartRAW, kAttrNumTraces), 2);
}

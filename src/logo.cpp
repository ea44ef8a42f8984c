// The logo band at the top of the panel.
#include "logo.h"

#include "colours.h"
#include "platform/panel/panel.h"
#include "ui.h"

#include <string>

namespace logo {

namespace {

constexpr int kNameSize = 16;
constexpr int kLineSize = 11;

} // namespace

void ShowInfoText(int panel, int background, int colour, const char *text, int left, int top,
                  int pointSize) {
    const int id = NewCtrl(panel, kCtrlTextMsg, "", top, left);
    SetCtrlAttribute(panel, id, kAttrTextFont, kFontApplication);
    SetCtrlAttribute(panel, id, kAttrTextBold, 1);
    SetCtrlAttribute(panel, id, kAttrTextBgColor, background);
    SetCtrlAttribute(panel, id, kAttrTextColor, colour);
    SetCtrlAttribute(panel, id, kAttrTextPointSize, pointSize);
    SetCtrlVal(panel, id, text);
}

void ShowLogo(int panel, const char *name, const char *version) {
    constexpr int kBand = colour::kBandBlue, kText = colour::kWhite;
    SetCtrlAttribute(panel, ui::DECOBand, kAttrFrameColor, kBand);
    SetCtrlAttribute(panel, ui::PICLogo, kAttrTop, 10);
    SetCtrlAttribute(panel, ui::PICLogo, kAttrLeft, 310);
    DisplayImageFile(panel, ui::PICLogo, kLogoFile);
    const std::string telephone = std::string("Tel. ") + kMakerTelephone;
    // The maker's three lines one above the other at the band's left, the name under the
    // logo and the version beside it, a little lower.
    ShowInfoText(panel, kBand, kText, kMakerName, 15, 7, kLineSize);
    ShowInfoText(panel, kBand, kText, telephone.c_str(), 15, 22, kLineSize);
    ShowInfoText(panel, kBand, kText, kMakerWeb, 15, 37, kLineSize);
    ShowInfoText(panel, kBand, kText, name, 310, 34, kNameSize);
    ShowInfoText(panel, kBand, kText, version, 520, 38, kLineSize);
}

} // namespace logo

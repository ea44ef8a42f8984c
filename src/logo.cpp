// The logo band at the top of the panel: program name, version, maker and logo.
#include "logo.h"

#include "app.h"
#include "gui.h"
#include "platform/panel/panel.h"
#include "ui.h"

#include <cstdio>

namespace logo {

Vars vars;

namespace {

constexpr int kNameSize = 16;
constexpr int kLineSize = 11;

void ShowNameAndVersion(int background, int colour) {
    ShowInfoText(vars.textIDsoft, background, colour, app::vars.szSoftname, 20, 22, kNameSize);
    ShowInfoText(vars.textIDver, background, colour, app::vars.szSoftversion, 240, 26, kLineSize);
}

} // namespace

void ShowInfoText(int, int background, int colour, const char *text, int left, int top,
                  int pointSize) {
    const int panel = gui::vars.pHandle;
    const int id    = NewCtrl(panel, kCtrlTextMsg, "", top, left);
    SetCtrlAttribute(panel, id, kAttrTextFont, kFontApplication);
    SetCtrlAttribute(panel, id, kAttrTextBold, 1);
    SetCtrlAttribute(panel, id, kAttrTextBgColor, background);
    SetCtrlAttribute(panel, id, kAttrTextColor, colour);
    SetCtrlAttribute(panel, id, kAttrTextPointSize, pointSize);
    SetCtrlVal(panel, id, text);
}

void ShowLogo(int mode) {
    const int panel = gui::vars.pHandle;
    switch (mode) {
    case kModeWhite:
        SetCtrlAttribute(panel, ui::DECOBand, kAttrFrameColor, kWhite);
        SetCtrlAttribute(panel, ui::PICLogo, kAttrVisible, 0);
        ShowNameAndVersion(kWhite, kGrey);
        break;
    case kModeBlue:
        SetCtrlAttribute(panel, ui::DECOBand, kAttrFrameColor, kBandBlue);
        SetCtrlAttribute(panel, ui::PICLogo, kAttrVisible, 0);
        ShowNameAndVersion(kBandBlue, kWhite);
        break;
    case kModeFull: {
        SetCtrlAttribute(panel, ui::DECOBand, kAttrFrameColor, kBandBlue);
        SetCtrlAttribute(panel, ui::PICLogo, kAttrTop, 10);
        SetCtrlAttribute(panel, ui::PICLogo, kAttrLeft, 310);
        DisplayImageFile(panel, ui::PICLogo, kLogoFile);
        char telephone[64];
        std::snprintf(telephone, sizeof telephone, "Tel. %s", kMakerTelephone);
        ShowInfoText(vars.textIDsoft, kBandBlue, kWhite, kMakerName, 15, 7, kLineSize);
        ShowInfoText(vars.textIDsoft, kBandBlue, kWhite, telephone, 15, 22, kLineSize);
        ShowInfoText(vars.textIDsoft, kBandBlue, kWhite, kMakerWeb, 15, 37, kLineSize);
        ShowInfoText(vars.textIDsoft, kBandBlue, kWhite, app::vars.szSoftname, 310, 34, kNameSize);
        ShowInfoText(vars.textIDver, kBandBlue, kWhite, app::vars.szSoftversion, 520, 38,
                     kLineSize);
        break;
    }
    default:
        break;
    }
}

} // namespace logo

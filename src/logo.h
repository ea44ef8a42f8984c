// The logo band at the top of the panel: program name, version, maker and logo.
#pragma once

namespace logo {

constexpr int kModeWhite = 0; // grey text on a white band, no logo
constexpr int kModeBlue  = 1; // white text on a blue band, no logo
constexpr int kModeFull  = 2; // blue band with the maker's lines and the logo

constexpr int kBandBlue = 0x0080FF;
constexpr int kWhite    = 0xFFFFFF;
constexpr int kGrey     = 0x808080;

// The maker's lines (a fictitious company).
constexpr const char *kMakerName      = "Kestrel Vision Instruments GmbH";
constexpr const char *kMakerTelephone = "+44 1632 960 472";
constexpr const char *kMakerWeb       = "www.kvex.example.com";
constexpr const char *kLogoFile       = "lg.svg";

// The ids of the info texts; none is ever stored, so all stay 0.
struct Vars {
    int textIDsoft = 0;
    int textIDver  = 0;
    int textIDinfo = 0;
    int textIDtel  = 0;
    int textIDname = 0;
};

extern Vars vars;

void ShowLogo(int mode);
void ShowInfoText(int id, int background, int colour, const char *text, int left, int top,
                  int pointSize);

} // namespace logo

// The logo band at the top of the panel: the maker's lines, the logo, the program's name
// and version, white on the blue band.
#pragma once

namespace logo {

// The maker's lines (a fictitious company).
constexpr const char *kMakerName      = "Kestrel Vision Instruments GmbH";
constexpr const char *kMakerTelephone = "+44 1632 960 472";
constexpr const char *kMakerWeb       = "www.kvex.example.com";
constexpr const char *kLogoFile       = "lg.svg";

// Draws the band on panel with the program's name and version.
void ShowLogo(int panel, const char *name, const char *version);
// Adds one line of text to panel at left, top (pixels), bold, in the application font.
void ShowInfoText(int panel, int background, int colour, const char *text, int left, int top,
                  int pointSize);

} // namespace logo

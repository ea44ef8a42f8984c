// The program's colours, 0xRRGGBB, one name for each: the curves and traces of the panel,
// the viewer's strips, the logo band and the plant window's cells.
#pragma once

namespace colour {

constexpr int kBlack       = 0x000000;
constexpr int kWhite       = 0xFFFFFF;
constexpr int kGrey        = 0x808080;
constexpr int kRed         = 0xFF0000;
constexpr int kBlue        = 0x0000FF;
constexpr int kBandBlue    = 0x0080FF; // the logo band
constexpr int kBrightGreen = 0x00FF00; // channel B of a RAW capture
constexpr int kMidGreen    = 0x00A000; // channel B in the viewer, readable on white
constexpr int kDarkGreen   = 0x008000; // threshold lines and traces
constexpr int kLightGreen  = 0x60B060; // the lower level in the viewer, beside the upper
constexpr int kOrange      = 0xC06000;
constexpr int kPurple      = 0x8000C0;
// Backgrounds of the plant window's cells, light enough for black text: a line online, one
// that needs a look (no controller, a set that differs), one offline, an action that failed.
constexpr int kOnlineBack    = 0xCBEBCB;
constexpr int kAttentionBack = 0xFFE3A6;
constexpr int kOfflineBack   = 0xD9D9D9;
constexpr int kFailedBack    = 0xF2C4C4;

} // namespace colour

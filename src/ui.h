// Control ids of the main panel, panel resource 1 of the panel file
// "K-VEX-RMX7-PIRA-ScopeV20.uir". The panel file gives each control its id; the code
// names them only through these constants.
#pragma once

namespace ui {

constexpr const char *kPanelFile = "K-VEX-RMX7-PIRA-ScopeV20.uir";
constexpr int kPanelResource     = 1;

constexpr int DropDCom       = 2;  // ring: COM port
constexpr int ChartNORM      = 3;  // strip chart, 4 traces
constexpr int ChartRAW       = 4;  // strip chart, 2 traces
constexpr int RNGGraphSource = 5;  // ring: 0 RAW, 1 NORM
constexpr int Ctrl6          = 6;  // frame around Run: dimmed while a run may not start
constexpr int LEDState2      = 9;  // bit 1 of the state
constexpr int LEDState1      = 10; // bit 0 of the state
constexpr int PICLogo        = 11;
constexpr int RBTFile        = 17;
constexpr int RBTEeprom      = 18;
constexpr int RBTRam         = 19;
constexpr int Ctrl22         = 22; // frame around the controller commands: dimmed during a run
constexpr int mmtime         = 24;
constexpr int hold           = 25;
constexpr int polarity       = 26;
constexpr int hwmode         = 27;
constexpr int sdelay         = 28;
constexpr int evalmode       = 29;
constexpr int valNORM        = 34;
constexpr int adcCHA         = 35;
constexpr int Amax           = 36;
constexpr int Amin           = 37;
constexpr int LOval          = 38;
constexpr int UPval          = 39;
constexpr int valREF         = 40;
constexpr int DECOBand       = 44;
constexpr int reference      = 45;
constexpr int hysteresis     = 46;
constexpr int Timer50ms      = 47;
constexpr int TXTStatus      = 48;
constexpr int mmthd          = 49;
constexpr int power          = 50;
constexpr int GraphDATA      = 51;

// Beyond the original panel.
constexpr int CHKRecord        = 52; // check box: record live replies to CSV
constexpr int BTNSaveCurve     = 53;
constexpr int BTNSaveChart     = 54;
constexpr int BTNViewRecording = 55; // opens a recording in a viewer window
constexpr int BTNReport        = 56; // writes the commissioning report
constexpr int TXTBroker        = 57; // text: the state of the plant link's broker
constexpr int BTNPlant         = 58; // opens the plant window on the panel's broker
constexpr int adcCHB           = 60; // indicator: channel B of the live reply
constexpr int TXTHint          = 61; // text beside the status line: what to check on the line

} // namespace ui

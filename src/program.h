// The program's name and version, as its title, the logo band and every file it writes give
// them.
#pragma once

namespace program {

constexpr const char *kName    = "K-VEX-RMX7-PIRA-Scope";
constexpr const char *kVersion = "V2.0";

} // namespace program

// Results of opening and using a line, shared by the serial services and the lines under
// them (local devices and remote lines): the codes the services return, and a refused
// open with its cause.
#pragma once

#include <string>
#include <utility>

// Open results and errors.
constexpr int kComErrUnknownSystem    = -1;
constexpr int kComErrInvalidPort      = -2; // no device for that COM number
constexpr int kComErrPortNotOpen      = -3;
constexpr int kComErrIO               = -4;
constexpr int kComErrNoPortFound      = -6;  // the device file does not exist
constexpr int kComErrCannotOpen       = -7;  // permission, busy or locked by another program
constexpr int kComErrInvalidParameter = -13; // the device refuses the settings
constexpr int kComErrTimeout          = -99;

// A refused open: the code for the caller, the errno behind it, and for the lines that
// know better than errno, the cause in plain words.
struct OpenFailure {
    OpenFailure() = default;
    OpenFailure(int failureCode, int failureErrno, std::string text = {})
        : code(failureCode), errorNumber(failureErrno), diagnosis(std::move(text)) {}

    int code        = 0;
    int errorNumber = 0;
    std::string diagnosis;
};

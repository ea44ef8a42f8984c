// Dialogs: file selection, and a small form of text fields.
#pragma once

#include "text.h"

#include <functional>
#include <string>
#include <vector>

constexpr int kButtonOk   = 1; // label of the confirm button
constexpr int kButtonSave = 2;
constexpr int kButtonLoad = 3;

constexpr int kSelectCancel   = 0;
constexpr int kSelectExisting = 1;
constexpr int kSelectNew      = 2;

// Modal dialog starting in defaultDirectory with defaultFileName, showing files that
// match filter ("*.dat"). pathName (kPathSize bytes) receives the chosen path.
// kSelectExisting or kSelectNew when a file was chosen, kSelectCancel, or negative.
int FileSelectPopup(const char *defaultDirectory, const char *defaultFileName, const char *filter,
                    const char *title, int button, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char *pathName);

// A program without a window (the command-line tool, a test) answers the dialog itself:
// while a responder is set, FileSelectPopup shows nothing and returns what the responder
// returns (a kSelect code or negative), with the path it put into pathName (kPathSize
// bytes). An empty one goes back to the dialog.
using FileSelectResponder = std::function<int(const char *title, int button, char *pathName)>;
void SetFileSelectResponder(FileSelectResponder responder);
// The responder set, or an empty one: the other rooms' dialogs (the plant window's folder) ask
// it too.
FileSelectResponder GetFileSelectResponder();

// A form of text fields in a modal dialog, for what a step must be told (the report's
// operator, unit and station). Each field starts with its value and ends with the
// operator's. 1 when confirmed, kSelectCancel when cancelled, negative without an engine.
struct FormField {
    std::string label; // "Operator"; also the field's accessible name
    std::string value;
    bool multiLine = false; // a note of several lines
};
int FormPopup(const char *title, std::vector<FormField> &fields);
// As the file dialog's responder: while one is set, FormPopup shows nothing and returns what
// the responder returns, with the fields as it left them. nullptr goes back to the dialog.
using FormResponder = int (*)(const char *title, std::vector<FormField> &fields);
void SetFormResponder(FormResponder responder);

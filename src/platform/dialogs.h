// File-selection dialog.
#pragma once

constexpr int kButtonOk   = 1; // label of the confirm button
constexpr int kButtonSave = 2;
constexpr int kButtonLoad = 3;

constexpr int kSelectCancel   = 0;
constexpr int kSelectExisting = 1;
constexpr int kSelectNew      = 2;

constexpr int kPathSize = 260;

// Modal dialog starting in defaultDirectory with defaultFileName, showing files that
// match filter ("*.dat"). pathName (kPathSize bytes) receives the chosen path.
// kSelectExisting or kSelectNew when a file was chosen, kSelectCancel, or negative.
int FileSelectPopup(const char *defaultDirectory, const char *defaultFileName, const char *filter,
                    const char *title, int button, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char *pathName);

// A program without a window (the command-line tool, a test) answers the dialog itself:
// while a responder is set, FileSelectPopup shows nothing and returns what the responder
// returns (a kSelect code or negative), with the path it put into pathName (kPathSize
// bytes). nullptr goes back to the dialog.
using FileSelectResponder = int (*)(const char *title, int button, char *pathName);
void SetFileSelectResponder(FileSelectResponder responder);

// --- The project folder: recordings, exports and where the dialogs start ---
// The folder for a program in programDir: programDir itself when programWritable (a build
// tree, a copy in the user's home), else the subfolder RMX7 of the user's documents
// folder (the desktop's XDG_DOCUMENTS_DIR, else ~/Documents), as for an installed
// program. It is only named here, not made. 0, or negative when directory is null.
int ChooseProjectDir(const char *programDir, int programWritable, char *directory);
// 1 when the user may make files in directory, else 0.
int DirectoryWritable(const char *directory);
// ChooseProjectDir for the program's own folder.
int GetProjectDir(char *directory);

// The project folder: where recordings, exports and parameter files go, and where the
// file dialogs start. Results: 0, or negative when an argument is missing or no engine runs.
#pragma once

// The folder for a program in programDir: programDir itself when programWritable (a build
// tree, a copy in the user's home), else the subfolder RMX7 of the user's documents
// folder (the desktop's XDG_DOCUMENTS_DIR, else ~/Documents), as for an installed
// program. It is only named here, not made. 0, or negative when directory is null.
int ChooseProjectDir(const char *programDir, int programWritable, char *directory);
// 1 when the user may make files in directory, else 0.
int DirectoryWritable(const char *directory);
// ChooseProjectDir for the program's own folder.
int GetProjectDir(char *directory);

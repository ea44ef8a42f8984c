// The project folder: where recordings, exports and parameter files go, and where the
// file dialogs start. Results: 0, or negative when an argument is missing or no engine runs.
#pragma once

// The folder for a program in programDir, for a user whose documents folder is
// documentsDir: programDir itself when programWritable and it is no system folder (a build
// tree, a copy in the user's home), else the subfolder RMX7 of documentsDir, as for an
// installed program, for root as for anyone. It is only named here, not made. 0, or
// negative when an argument is null.
int ChooseProjectDir(const char *programDir, int programWritable, const char *documentsDir,
                     char *directory);
// 1 when path is a system folder or lies below one: /usr, /bin, /sbin, /lib (and /lib32,
// /lib64, /libx32), /opt, /etc, compared by whole names of folders.
int IsSystemFolder(const char *path);
// 1 when the user may make files in directory, else 0.
int DirectoryWritable(const char *directory);
// The user's documents folder: the desktop's XDG_DOCUMENTS_DIR, else ~/Documents.
int GetDocumentsDir(char *directory);
// ChooseProjectDir for the program's own folder and the user running it.
int GetProjectDir(char *directory);

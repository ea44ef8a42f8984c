// Files written by the program: new files, appended files and whole replacements, and the
// folders they go to.
// Results: 0 on success, else the negated errno of the failing call. A write beyond the
// file-size limit (ulimit -f) fails with -EFBIG, as a full disk fails with -ENOSPC.
//
// No writer here follows a link that another account planted: new files are made
// exclusively, and an append refuses a link or anything but a plain file.
#pragma once

#include <cstddef>
#include <string>

// Creates path holding text; fails with -EEXIST when the file (or a link) is there
// already. A write that fails removes the file again.
int CreateTextFile(const char *path, const std::string &text);
// Appends text to a plain file that exists; a missing file or folder fails (-ENOENT) rather
// than being made anew, a link fails with -ELOOP. A failed append cuts the file back to
// its length before, so what was in it stays whole.
int AppendTextFile(const char *path, const std::string &text);
// Writes the file whole or not at all: the bytes go to a new file of a random name in
// path's folder, made by this call alone, which is flushed to disk and renamed over path
// (a link at path is replaced, never followed). A failure removes that file and leaves an
// older file at path as it was. A file replaced keeps its permissions.
int ReplaceTextFile(const char *path, const std::string &text);
// Makes path holding bytes, whole or not at all, and never over a file that stands there
// (-EEXIST): the bytes go to a new file of a random name in path's folder first, which is
// then linked in as path; a link planted at path is not followed.
int CreateFileWhole(const char *path, const std::string &bytes);
// Reads the whole file into text, refusing one of more than limit bytes (-EFBIG); a folder
// gives -EISDIR.
int ReadTextFile(const char *path, std::string &text, std::size_t limit = 1 << 20);
// Makes the folder path and every folder above it that is missing; 0 also when it
// stands already.
int MakeFolder(const char *path);
// Makes writes beyond the file-size limit fail with EFBIG instead of ending the process
// with SIGXFSZ. The writers above do it themselves; the engine's start and a writer of its
// own (the trace) call it before anything is written.
void TreatFileSizeLimitAsError();

// Text files written by the program: new files, appended files and atomic replacements,
// and the folders they go to.
// Results: 0 on success, else the negated errno of the failing call.
#pragma once

#include <cstddef>
#include <string>

// Creates path holding text; fails with -EEXIST when the file is there already.
int CreateTextFile(const char *path, const std::string &text);
// Appends text to a file that exists; a missing file or folder fails (-ENOENT) rather
// than being made anew. A failed append cuts the file back to its length before, so what
// was in it stays whole.
int AppendTextFile(const char *path, const std::string &text);
// Writes the file atomically: the text goes to path + ".part", which is then renamed over
// path, so a failed write leaves an older file whole.
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

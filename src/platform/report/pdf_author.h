// The author of a PDF file that Qt's writer made. The writer of Qt 6.4 sets a title and a
// creator but has no call for the author, so it is added afterwards by an incremental
// update: appended to the file, it redefines the document information dictionary with
// /Author and the XMP metadata with dc:creator, so the two agree as PDF/A requires, and
// leaves every byte written before as it was.
#pragma once

#include <string>

// Appends that update to pdf, the whole file; author in UTF-8. False, pdf untouched, when
// the file is not laid out as the writer lays it out (one cross-reference table, a trailer
// naming /Info and /Root, the catalog naming its /Metadata stream).
bool AddPdfAuthor(std::string &pdf, const std::string &author);

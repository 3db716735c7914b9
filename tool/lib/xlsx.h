// The download as an Excel workbook for people: sheet "Barcodes" with one row per barcode
// (barcodes and the scanner's identity as text cells, times as date-time cells) and sheet
// "Scanner" with the scanner's identity, clock, port and the download's time.
#pragma once

#include "lib/download.h"

#include <string>

namespace qmx::tool {

// The workbook's bytes; the same download gives the same bytes. Throws
// ToolError{Outcome::output} when the workbook cannot be made.
std::string workbook(const Download& d);

// A text as a workbook cell holds it: UTF-8, with the two things the file format would
// read otherwise spelled as its _xHHHH_ escapes: a NUL, which would end the text, and a
// "_xHHHH_" the scanner read literally.
std::string cell_text(const std::wstring& text);

} // namespace qmx::tool

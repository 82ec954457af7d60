// A result table as comma-separated text, for spreadsheets: the result
// view's table export.
#pragma once

#include <string>

#include "ResultFileReader.h"

namespace globelayers {

// The table as comma-separated text: a header line of the column names with
// their units in brackets ("DTE [mGal]"), then one line per row with every
// number as the result file writes it (decimal point whatever the locale).
// False when the file cannot be written; `message` then names it.
bool WriteResultCsv(const TResultTable& table, const std::string& fileName, std::string& message);

}  // namespace globelayers

// A result table as comma-separated text, for spreadsheets: the batch's
// `--output csv` and the result view's save, the same bytes.
#pragma once

#include <string>

#include "ResultFileReader.h"

namespace globelayers {

// The table as comma-separated text: a header line of the column names with
// their units in brackets ("DTE [mGal]"), then one line per row with every
// number as the result file writes it (decimal point whatever the locale).
// False when the file cannot be written; `message` then names it.
bool WriteResultCsv(const TResultTable& table, const std::string& fileName, std::string& message);

// The same, written under a temporary name beside `fileName` and put in
// place only once whole: a save that fails leaves an earlier file as it
// was. False with `message` naming `fileName`.
bool SaveResultCsv(const TResultTable& table, const std::string& fileName, std::string& message);

}  // namespace globelayers

// Layer row texts, the form in which older callers and the tests give a
// run's layers: four cells joined by ';' (elevation constant in metres above
// sea level, elevation grid path, density constant in g/cm3, density grid
// path), "@" for an empty cell, constants in a given decimal separator.
// Converted here into the engine's rows, once, before a run starts.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "Calculation.h"
#include "LayerModel.h"

namespace globelayers {

// A constant cell that does not convert: "'%s' is not a valid floating point value".
class TConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A row text with fewer than four cells: "List index out of bounds (%d)".
class TListIndexError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// The cells of a layer row text: split at every ';', blanks kept, an empty
// stretch an empty cell.
std::vector<std::string> SplitLayerRow(const std::string& rowText);

// One row text converted: a cell "@" is empty; a constant cell is read with
// `decimalSeparator`; a grid cell is a path as it stands (blanks kept), or
// a list of paths joined by " | " (GridListFromCell, RunSetup.h).
// Throws TConversionError or TListIndexError, naming the cell.
TLayerRow LayerRowFromText(const std::string& rowText, char decimalSeparator);
std::vector<TLayerRow> LayerRowsFromTexts(const std::vector<std::string>& rowTexts, char decimalSeparator);

// Row text k converted and set up in the model (SetupLayerRow).
bool SetupLayerRow(TLayerModel& model, int k, const std::string& rowText, char decimalSeparator,
                   IUserPrompts& prompts, const TGridLoader& loadGrid = {});

}  // namespace globelayers

#include "RunSetup.h"

#include <optional>
#include <string_view>

#include "NumberText.h"

namespace globelayers {
namespace {

constexpr char kEmptyCell[] = "@";

TRunSetup Refuse(TRunSetupFault fault, std::string message, TRunField focus = TRunField::None) {
  TRunSetup setup;
  setup.fault = fault;
  setup.message = std::move(message);
  setup.focusField = focus;
  return setup;
}

TRunSetup NotANumber(const std::string& text) {
  return Refuse(TRunSetupFault::Conversion,
                FormatMessage("'%s' is not a valid floating point value", text));
}

// Converts `text` into `value`; on failure `setup` holds the refusal.
bool Convert(const std::string& text, char decimalSeparator, double& value,
             std::optional<TRunSetup>& setup) {
  if (TextToFloat(text, decimalSeparator, value)) return true;
  setup = NotANumber(text);
  return false;
}

}  // namespace

std::string LayerRowText(const TLayerCells& cells) {
  std::string text;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) text += ';';
    text += cells[c].empty() ? std::string(kEmptyCell) : cells[c];
  }
  return text;
}

TRunSetup PrepareRun(const TWindowState& state, char decimalSeparator) {
  const int rows = state.LayerRowCount();
  std::optional<TRunSetup> refusal;
  TRunParameters p;

  if (state.pointFile.empty()) return Refuse(TRunSetupFault::Check, "Input data file is required");
  if (rows < 1) return Refuse(TRunSetupFault::Check, "At least two elevation grid are required");

  // The outer distance (Phi_to) is converted before the inner one
  // (Phi_from), as the comparison reads them.
  if (!Convert(state.outerDistanceDegText, decimalSeparator, p.psiToDeg, refusal)) return *refusal;
  if (!Convert(state.innerDistanceDegText, decimalSeparator, p.psiFromDeg, refusal)) return *refusal;
  if (!(p.psiToDeg > p.psiFromDeg)) {
    return Refuse(TRunSetupFault::Check, "Phi_to must be greater then Phi_from",
                  TRunField::InnerDistance);
  }
  if (!Convert(state.azimuthToDegText, decimalSeparator, p.azimuthToDeg, refusal)) return *refusal;
  if (!Convert(state.azimuthFromDegText, decimalSeparator, p.azimuthFromDeg, refusal)) return *refusal;
  if (!(p.azimuthToDeg > p.azimuthFromDeg)) {
    return Refuse(TRunSetupFault::Check, "Lambda_to must be greater then Lambda_from",
                  TRunField::AzimuthFrom);
  }
  if (rows < 2) {
    return Refuse(TRunSetupFault::Check, "Number of layers must be grater or equal 2",
                  TRunField::LayerTable);
  }

  if (!Convert(state.segmentSizeArcSecText, decimalSeparator, p.segmentSize, refusal)) return *refusal;
  if (!Convert(state.gravityConstantText, decimalSeparator, p.gravityConstant, refusal)) return *refusal;
  if (!Convert(state.earthRadiusMText, decimalSeparator, p.earthRadius, refusal)) return *refusal;
  if (!Convert(state.incrementMText, decimalSeparator, p.increment, refusal)) return *refusal;

  // The engine converts the constant cells while it sets up the layers, after
  // the result file has been started; converting them here first refuses a
  // bad cell before anything is written. The engine converts them again.
  for (const TLayerCells& row : state.layerRows) {
    for (const std::size_t c : {std::size_t{0}, std::size_t{2}}) {
      const std::string& cell = row[c];
      if (cell.empty() || cell == kEmptyCell) continue;
      double ignored = 0;
      if (!Convert(cell, decimalSeparator, ignored, refusal)) return *refusal;
    }
  }

  p.dataFile = state.pointFile;
  p.appendText = state.appendText;
  p.rowCount = rows;
  p.layerRows.reserve(state.layerRows.size());
  for (const TLayerCells& row : state.layerRows) p.layerRows.push_back(LayerRowText(row));
  p.priority = state.crossingPriority;
  p.outputUnit = state.outputUnit;
  p.sumOnly = state.sumsOnly;

  TRunSetup setup;
  setup.params = std::move(p);
  return setup;
}

}  // namespace globelayers

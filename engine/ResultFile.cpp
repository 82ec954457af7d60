#include "ResultFile.h"

#include "NumberText.h"

namespace globelayers {

std::string OutputFileName(const std::string& dataFile, const std::string& appendText,
                           const std::string& ending) {
  const std::size_t slash = dataFile.find_last_of('/');
  const std::size_t dot = dataFile.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExtension ? dataFile.substr(0, dot) : dataFile;
  return stem + appendText + ending;
}

TResultLayout MakeResultLayout(double increment, bool sumOnly, int rowCount) {
  return {increment != 0, !sumOnly && rowCount > 2, rowCount};
}

std::string ResultHeader(const TResultLayout& L) {
  std::string h = "     Lambda          Fi      Point     Height";
  if (L.perLayer) {
    if (L.gradient) {
      h += "         DTE1      DTE(i)1       VGDRE1";
      for (int k = 2; k <= L.rowCount - 1; ++k) {
        h += CFormat("        DTE%2d     DTE(i)%2d      VGDRE%2d", k, k, k);
      }
      h += "          DTE       DTE(i)        VGDRE\n";
    } else {
      h += "         DTE1";
      for (int k = 2; k <= L.rowCount - 1; ++k) h += CFormat("        DTE%2d", k);
      h += "          DTE\n";
    }
  } else {
    h += L.gradient ? "          DTE       DTE(i)        VGDRE\n" : "          DTE\n";
  }
  return h;
}

std::string ResultLayerPiece(const TResultLayout& L, const TCalcPoint& p, int layerIndex,
                             const TResultGroup& g) {
  if (layerIndex == 0) {
    if (L.gradient) {
      return CFormat("%11.6lf %11.6lf %10.0lf %10.3lf %12.5lf %12.5lf %12.5lf", p.lambda, p.phi,
                     p.pointNumber, p.height, g.dte, g.dteI, g.vgdre);
    }
    return CFormat("%11.6lf %11.6lf %10.0lf %10.3lf %12.5lf", p.lambda, p.phi, p.pointNumber,
                   p.height, g.dte);
  }
  if (L.gradient) return CFormat(" %12.5lf %12.5lf %12.5lf", g.dte, g.dteI, g.vgdre);
  return CFormat(" %12.5lf", g.dte);
}

std::string ResultLineEnd(const TResultLayout& L, const TCalcPoint& p, const TResultGroup& s) {
  if (L.perLayer) {
    if (L.gradient) return CFormat(" %12.5lf %12.5lf %12.5lf\n", s.dte, s.dteI, s.vgdre);
    return CFormat(" %12.5lf\n", s.dte);
  }
  if (L.gradient) {
    return CFormat("%11.6lf %11.6lf %10.0lf %10.3lf %12.5lf %12.5lf %12.8lf\n", p.lambda, p.phi,
                   p.pointNumber, p.height, s.dte, s.dteI, s.vgdre);
  }
  return CFormat("%11.6lf %11.6lf %10.0lf %10.3lf %12.5lf\n", p.lambda, p.phi, p.pointNumber,
                 p.height, s.dte);
}

}  // namespace globelayers

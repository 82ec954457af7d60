#include "ResultFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

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
  return {.gradient = increment != 0, .perLayer = !sumOnly && rowCount > 2, .rowCount = rowCount};
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

namespace {

// The exact forms of ResultLayerPiece and ResultLineEnd: the same numbers in
// the same places, each one round-tripping to its double.
std::string ExactPoint(const TCalcPoint& p) {
  return CFormat("%.17g %.17g %.17g %.17g", p.lambda, p.phi, p.pointNumber, p.height);
}
std::string ExactGroup(const TResultLayout& L, const TResultGroup& g) {
  if (L.gradient) return CFormat(" %.17g %.17g %.17g", g.dte, g.dteI, g.vgdre);
  return CFormat(" %.17g", g.dte);
}

}  // namespace

std::string ResultLayerPiece(const TResultLayout& L, const TCalcPoint& p, int layerIndex,
                             const TResultGroup& g) {
  if (L.exact) return (layerIndex == 0 ? ExactPoint(p) : std::string()) + ExactGroup(L, g);
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
  if (L.exact) return (L.perLayer ? std::string() : ExactPoint(p)) + ExactGroup(L, s) + "\n";
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

namespace {

// Pending text is written once it reaches this many bytes.
constexpr std::size_t kResultBlockBytes = 64 * 1024;

}  // namespace

TResultFileWriter::~TResultFileWriter() {
  if (fd_ < 0) return;
  if (!failed_ && replacement_.committed()) Flush();
  ::close(fd_);
  // The replacement removes a file that was never committed.
}

bool TResultFileWriter::Open(const std::string& path) {
  const int fd = replacement_.Open(path);
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

bool TResultFileWriter::Commit() { return fd_ >= 0 && replacement_.Commit(); }

bool TResultFileWriter::Write(const std::string& text) {
  if (failed_ || fd_ < 0) return false;
  pending_ += text;
  pieceEnds_.push_back(pending_.size());
  return pending_.size() < kResultBlockBytes || Flush();
}

bool TResultFileWriter::Flush() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The file holds `done` bytes of the pending text: keep the whole
      // pieces among them.
      const auto whole = std::upper_bound(pieceEnds_.begin(), pieceEnds_.end(), done);
      const std::size_t keep = whole == pieceEnds_.begin() ? 0 : *(whole - 1);
      while (::ftruncate(fd_, static_cast<off_t>(written_ + keep)) != 0 && errno == EINTR) {
      }
      failed_ = true;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  written_ += static_cast<std::int64_t>(pending_.size());
  pending_.clear();
  pieceEnds_.clear();
  return true;
}

bool TResultFileWriter::Finish() {
  if (fd_ < 0) return false;
  if (!replacement_.committed()) {
    ::close(fd_);
    fd_ = -1;
    replacement_.Discard();
    return true;
  }
  const bool flushed = !failed_ && Flush();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  return flushed && closed;
}

}  // namespace globelayers

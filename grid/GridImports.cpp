// Loading a grid: the table of formats and the one path every load takes.
// A file is opened once and its first bytes are read once; the first format
// of the table that knows them reads it. Its reader fills a grid of its own,
// handed over only when it loaded completely, so a failed load leaves the
// caller's grid as it was (but for fileFormat, kNone after LoadGrid). Each
// fault is reported once, with its message from GridFaults.cpp.
#include "GridImports.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "GridFaults.h"
#include "GridFormats.h"
#include "GridSource.h"
#include "StopRequest.h"

namespace globelayers {
namespace {

struct TGridFormatEntry {
  TGridFormat format;
  // Recognises a name that is read without opening it as a file; null when
  // the format has no such names.
  bool (*identifyName)(const std::string& name);
  bool (*identifyHeader)(std::span<const unsigned char> header);
  TGridLoad (*read)(TGridImports& grid, const TGridInput& input);
};

// In the order of detection. The native formats' first bytes exclude each
// other; GDAL comes last and takes any file that none of them knows.
constexpr TGridFormatEntry kFormats[] = {
    {TGridFormat::kSurfer7, nullptr, IsSurfer7, ReadSurfer7},
    {TGridFormat::kSurfer6, nullptr, IsSurfer6, ReadSurfer6},
    {TGridFormat::kGeosoft16, nullptr, IsGeosoft16, ReadGeosoft16},
#ifdef GLOBELAYERS_HAVE_GDAL
    {TGridFormat::kGdalRaster, NamesGdalSubdataset, IsGdalCandidate, ReadGdalRaster},
#endif
};

// The native formats alone, the table's first: bytes in memory have no
// name that GDAL could open.
constexpr std::size_t kNativeFormats = 3;
static_assert(std::size(kFormats) >= kNativeFormats && kFormats[kNativeFormats - 1].format == TGridFormat::kGeosoft16);

const TGridFormatEntry& EntryOf(TGridFormat format) {
  for (const TGridFormatEntry& entry : kFormats)
    if (entry.format == format) return entry;
  throw std::logic_error("a grid format without a reader");
}

// The first bytes of `source`, read once; fewer when it is shorter.
std::vector<unsigned char> ReadHeader(IGridSource& source) {
  std::vector<unsigned char> header(kGridHeaderBytes);
  header.resize(source.Seek(0) ? source.Read(header.data(), header.size()) : 0);
  return header;
}

// Runs one format's reader on a grid built aside and hands it over on
// success. The Geosoft format carries no blank value, so the caller's stays.
TGridLoad RunReader(const TGridFormatEntry& entry, TGridImports& grid, const TGridInput& input) {
  if (LongStepStopRequested()) return {TGridFault::kStopped, {}};
  TGridImports work;
  work.blankValue = grid.blankValue;
  TGridLoad outcome;
  try {
    outcome = entry.read(work, input);
  } catch (const std::exception&) {
    // Memory for the values could not be had, or its allocation gave up
    // for a stop request (told apart below). No exception leaves a load.
    outcome = {TGridFault::kNoMemory, {}};
  }
  if (outcome.fault == TGridFault::kNone) {
    work.fileFormat = entry.format;
    grid = std::move(work);
    return outcome;
  }
  // A read given up for a stop request is no fault of the file.
  if (LongStepStopRequested()) return {TGridFault::kStopped, {}};
  return outcome;
}

TGridLoad Reported(TGridLoad outcome, const std::string& fileName, IUserPrompts& prompts) {
  const std::string message = GridFaultMessage(outcome.fault, fileName, outcome.reason);
  if (!message.empty()) prompts.ShowMessage(message);
  return outcome;
}

// The load proper over an opened source, with the formats `formats`.
TGridLoad LoadFromSource(std::span<const TGridFormatEntry> formats, TGridImports& grid, IGridSource& source,
                         const std::string& fileName, const TWindowChooser* choose = nullptr) {
  const std::vector<unsigned char> header = ReadHeader(source);
  const TGridInput input{fileName, header, &source, choose};
  for (const TGridFormatEntry& entry : formats)
    if (entry.identifyHeader(header)) return RunReader(entry, grid, input);
  if (LongStepStopRequested()) return {TGridFault::kStopped, {}};
  return {TGridFault::kUnknownFormat, {}};
}

TGridLoad LoadNamed(TGridImports& grid, const std::string& fileName, const TWindowChooser* choose, int overview = -1) {
  for (const TGridFormatEntry& entry : kFormats)
    if (entry.identifyName != nullptr && entry.identifyName(fileName))
      return RunReader(entry, grid, TGridInput{fileName, {}, nullptr, choose, overview});
  const auto source = OpenGridFile(fileName);
  if (!source) return {TGridFault::kNotOpened, {}};
  if (overview < 0) return LoadFromSource(kFormats, grid, *source, fileName, choose);
  // Only GDAL's rasters have overviews.
  const std::vector<unsigned char> header = ReadHeader(*source);
  for (std::size_t f = 0; f < kNativeFormats; ++f)
    if (kFormats[f].identifyHeader(header)) return {TGridFault::kUnknownFormat, {}};
#ifdef GLOBELAYERS_HAVE_GDAL
  return RunReader(EntryOf(TGridFormat::kGdalRaster), grid, TGridInput{fileName, header, source.get(), choose, overview});
#else
  return {TGridFault::kUnknownFormat, {}};
#endif
}

// One format's reader on its own: a source of another format is left
// silently, as the specified readers do.
TGridLoad ReadAsFormat(TGridFormat format, TGridImports& grid, IGridSource& source,
                       const std::string& fileName) {
  const TGridFormatEntry& entry = EntryOf(format);
  const std::vector<unsigned char> header = ReadHeader(source);
  if (!entry.identifyHeader(header)) return {TGridFault::kUnknownFormat, {}};
  return RunReader(entry, grid, TGridInput{fileName, header, &source});
}

int ReadFormat(TGridFormat format, TGridImports& grid, IGridSource& source, const std::string& fileName,
               IUserPrompts& prompts) {
  TGridLoad outcome = ReadAsFormat(format, grid, source, fileName);
  if (outcome.fault == TGridFault::kUnknownFormat) return 1;
  return Reported(std::move(outcome), fileName, prompts).fault == TGridFault::kNone ? 0 : 1;
}

int ReadFormat(TGridFormat format, TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  const auto source = OpenGridFile(fileName);
  if (!source) {
    Reported({TGridFault::kNotOpened, {}}, fileName, prompts);
    return 1;
  }
  return ReadFormat(format, grid, *source, fileName, prompts);
}

}  // namespace

TGridLoad LoadGridFile(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return LoadGridWindow(grid, fileName, prompts, {});
}

TGridLoad LoadGridWindow(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts,
                         const TWindowChooser& choose) {
  TGridLoad outcome = LoadNamed(grid, fileName, choose ? &choose : nullptr);
  if (outcome.fault != TGridFault::kNone) grid.fileFormat = TGridFormat::kNone;
  return Reported(std::move(outcome), fileName, prompts);
}

TGridLoad LoadGridOverview(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts, int overview,
                           const TWindowChooser& choose) {
  TGridLoad outcome = LoadNamed(grid, fileName, choose ? &choose : nullptr, std::max(0, overview));
  if (outcome.fault != TGridFault::kNone) grid.fileFormat = TGridFormat::kNone;
  return Reported(std::move(outcome), fileName, prompts);
}

std::vector<TGridImports> GridOverviews(const std::string& fileName) {
  std::vector<TGridImports> overviews;
#ifdef GLOBELAYERS_HAVE_GDAL
  if (!NamesGdalSubdataset(fileName)) {
    const auto source = OpenGridFile(fileName);
    if (!source) return overviews;
    const std::vector<unsigned char> header = ReadHeader(*source);
    for (std::size_t f = 0; f < kNativeFormats; ++f)
      if (kFormats[f].identifyHeader(header)) return overviews;
  }
  const int count = GdalOverviewCount(fileName);
  for (int n = 0; n < count; ++n) {
    // The geometry as the reader sees it, from a read of the first cell.
    TGridImports seen, cell;
    const TWindowChooser firstCell = [&seen](const TGridImports& g) {
      seen = g;
      return TNodeWindow{.column0 = 0, .columns = 2, .row0 = 0, .rows = 2};
    };
    if (LoadNamed(cell, fileName, &firstCell, n).fault != TGridFault::kNone) return {};
    overviews.push_back(std::move(seen));
  }
#else
  (void)fileName;
#endif
  return overviews;
}

bool LoadGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return LoadGridFile(grid, fileName, prompts).fault == TGridFault::kNone;
}

TGridLoad LoadGridFromBytes(TGridImports& grid, std::span<const unsigned char> bytes, const std::string& fileName,
                            IUserPrompts& prompts) {
  TMemoryGridSource source(bytes);
  TGridLoad outcome =
      LoadFromSource(std::span<const TGridFormatEntry>(kFormats, kNativeFormats), grid, source, fileName);
  if (outcome.fault != TGridFault::kNone) grid.fileFormat = TGridFormat::kNone;
  return Reported(std::move(outcome), fileName, prompts);
}

int ReadSurfer7Grid(TGridImports& grid, IGridSource& source, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kSurfer7, grid, source, fileName, prompts);
}
int ReadSurfer6Grid(TGridImports& grid, IGridSource& source, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kSurfer6, grid, source, fileName, prompts);
}
int ReadGeosoftGrid(TGridImports& grid, IGridSource& source, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kGeosoft16, grid, source, fileName, prompts);
}

int ReadSurfer7Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kSurfer7, grid, fileName, prompts);
}
int ReadSurfer6Grid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kSurfer6, grid, fileName, prompts);
}
int ReadGeosoftGrid(TGridImports& grid, const std::string& fileName, IUserPrompts& prompts) {
  return ReadFormat(TGridFormat::kGeosoft16, grid, fileName, prompts);
}

}  // namespace globelayers

#include "GdalFence.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include <cpl_minixml.h>
#include <gdal.h>

#include "InputFile.h"
#include "NumberText.h"

namespace globelayers {
namespace {

// VRTs may name VRTs; a chain deeper than this is refused rather than
// followed (a VRT naming itself would never end).
constexpr int kMaxVrtDepth = 8;
// netCDF header elements a grid file may declare: far above any real grid
// file, far below what could exhaust memory.
constexpr std::uint64_t kMaxNetcdfElements = 1u << 20;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// A GDAL virtual file system or a URL: never a local file.
std::string RemoteNameRefusal(const std::string& name) {
  if (StartsWith(name, "/vsi"))
    return "'" + name + "' names one of GDAL's virtual file systems; a grid must be a local file";
  if (name.find("://") != std::string::npos)
    return "'" + name + "' is an address, not a local file; a grid must be a local file";
  return {};
}

std::string CheckedSource(const std::string& source, const std::string& vrtPath, bool relative, int depth,
                          bool rawValues);

// Every SourceFilename under `node`, checked; the first refusal.
// `rawBand`: `node` is the content of a VRTRawRasterBand, whose file holds
// bare values that the VRT driver reads itself.
std::string CheckSources(const CPLXMLNode* node, const std::string& vrtPath, int depth, bool rawBand = false) {
  for (const CPLXMLNode* child = node; child != nullptr; child = child->psNext) {
    if (child->eType != CXT_Element) continue;
    if (EQUAL(child->pszValue, "SourceFilename")) {
      const char* text = CPLGetXMLValue(child, nullptr, "");
      const char* relative = CPLGetXMLValue(child, "relativeToVRT", "0");
      const std::string refusal = CheckedSource(text != nullptr ? text : "", vrtPath,
                                                relative != nullptr && std::strcmp(relative, "1") == 0, depth, rawBand);
      if (!refusal.empty()) return refusal;
      continue;
    }
    const bool raw = EQUAL(child->pszValue, "VRTRasterBand") &&
                     EQUAL(CPLGetXMLValue(child, "subClass", ""), "VRTRawRasterBand");
    if (const std::string refusal = CheckSources(child->psChild, vrtPath, depth, raw); !refusal.empty())
      return refusal;
  }
  return {};
}

// A VRT's sources, each held to the rules of a grid named in a layer row.
std::string VrtSourcesRefusal(const std::string& vrtPath, int depth) {
  if (depth > kMaxVrtDepth)
    return CFormat("its virtual rasters name each other more than %d deep", kMaxVrtDepth);
  CPLXMLNode* tree = CPLParseXMLFile(vrtPath.c_str());
  if (tree == nullptr) return {};  // not XML: GDAL will not take it as a VRT either
  std::string refusal = CheckSources(tree, vrtPath, depth);
  CPLDestroyXMLNode(tree);
  return refusal;
}

std::string CheckedSource(const std::string& source, const std::string& vrtPath, bool relative, int depth,
                          bool rawValues) {
  if (source.empty()) return "a source of " + vrtPath + " has no file name";
  if (std::string refusal = RemoteNameRefusal(source); !refusal.empty())
    return "a source of " + vrtPath + ": " + refusal;
  // A raw band's file is bare values, of no raster format: it is read
  // byte by byte by its name as it stands, and only needs to be a regular
  // local file.
  if (rawValues) {
    std::string file = source;
    if (relative && file.front() != '/') file = (std::filesystem::path(vrtPath).parent_path() / file).string();
    const TInputFile input = OpenInputFile(file);
    if (input.status == TInputOpen::kNotRegular)
      return "its source " + file + " is not a regular file (a folder, a FIFO or a device)";
    if (input.status != TInputOpen::kOpened) return "its source " + file + " cannot be opened";
    return {};
  }
  const std::string named = SubdatasetFile(source);
  const bool subdataset = named != source;
  // A source in subdataset form is a netCDF variable; any other prefix
  // would choose a driver outside the list.
  if (subdataset && !EQUALN(source.c_str(), "NETCDF:", 7))
    return "its source " + source + " names a driver that grids are not read with";
  std::string file = named;
  if (relative && !file.empty() && file.front() != '/')
    file = (std::filesystem::path(vrtPath).parent_path() / file).string();
  const TInputFile input = OpenInputFile(file);
  if (input.status == TInputOpen::kNotRegular)
    return "its source " + file + " is not a regular file (a folder, a FIFO or a device)";
  if (input.status != TInputOpen::kOpened) return "its source " + file + " cannot be opened";
  // A source that only a driver outside the list would read (a WMS
  // description, say) is refused, since GDAL opens sources with any driver.
  const std::string sourceName = file == named ? source : file;
  GDALDriverH driver = GDALIdentifyDriverEx(sourceName.c_str(), GDAL_OF_RASTER, AllowedGridDrivers(), nullptr);
  if (driver == nullptr && !subdataset)
    return "its source " + file + " is not a raster of a format that grids are read from";
  if (driver != nullptr && EQUAL(GDALGetDriverShortName(driver), "VRT"))
    return VrtSourcesRefusal(file, depth + 1);
  if (driver != nullptr && EQUAL(GDALGetDriverShortName(driver), "netCDF")) return NetcdfHeaderRefusal(file);
  return {};
}

// Reads a classic netCDF header field by field from a file of known length.
class THeaderReader {
 public:
  THeaderReader(std::FILE* file, std::uint64_t length) : file_(file), length_(length) {}

  std::uint64_t left() const { return length_ - position_; }
  bool U32(std::uint64_t& value) { return Big(4, value); }
  bool U64(std::uint64_t& value) { return Big(8, value); }
  bool Skip(std::uint64_t bytes) {
    if (bytes > left()) return false;
    if (std::fseek(file_, long(bytes), SEEK_CUR) != 0) return false;
    position_ += bytes;
    return true;
  }

 private:
  bool Big(int bytes, std::uint64_t& value) {
    unsigned char b[8];
    if (std::uint64_t(bytes) > left() || std::fread(b, 1, std::size_t(bytes), file_) != std::size_t(bytes)) return false;
    position_ += std::uint64_t(bytes);
    value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | b[i];
    return true;
  }

  std::FILE* file_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;
};

std::uint64_t PaddedTo4(std::uint64_t bytes) { return (bytes + 3) / 4 * 4; }

// Bytes per value of a netCDF external type; 0 for a type that is none.
std::uint64_t TypeBytes(std::uint64_t type, bool cdf5) {
  switch (type) {
    case 1: case 2: return 1;  // byte, char
    case 3: return 2;          // short
    case 4: case 5: return 4;  // int, float
    case 6: return 8;          // double
    case 7: return cdf5 ? 1 : 0;   // ubyte
    case 8: return cdf5 ? 2 : 0;   // ushort
    case 9: return cdf5 ? 4 : 0;   // uint
    case 10: case 11: return cdf5 ? 8 : 0;  // int64, uint64
    default: return 0;
  }
}

}  // namespace

std::string SubdatasetFile(const std::string& name) {
  const auto colon = name.find(':');
  if (colon == std::string::npos || colon < 2) return name;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return name;
  }
  const std::string rest = name.substr(colon + 1);
  if (!rest.empty() && rest.front() == '"') {
    const auto close = rest.find('"', 1);
    return close == std::string::npos ? name : rest.substr(1, close - 1);
  }
  const auto last = rest.rfind(':');
  return last == std::string::npos ? name : rest.substr(0, last);
}

const char* const* AllowedGridDrivers() {
  static const char* const kDrivers[] = {
      "GTiff", "netCDF", "AAIGrid", "GRASSASCIIGrid", "HFA", "VRT", "GSAG", "GSBG", "GS7BG", "EHdr",
      "ENVI", "XYZ", "SRTMHGT", "DTED", "USGSDEM", "BT", "ERS", nullptr};
  return kDrivers;
}

std::string NetcdfHeaderRefusal(const std::string& path) {
  TInputFile input = OpenInputFile(path);
  if (input.status != TInputOpen::kOpened) return {};
  THeaderReader in(input.file.get(), input.sizeBytes);
  std::uint64_t magic = 0;
  if (!in.U32(magic) || (magic >> 8) != 0x434446u) return {};  // "CDF" and a version byte
  const std::uint64_t version = magic & 0xFFu;
  if (version != 1 && version != 2 && version != 5) return {};
  const bool cdf5 = version == 5;
  const auto count = [&](std::uint64_t& value) { return cdf5 ? in.U64(value) : in.U32(value); };
  const std::string damaged = "its netCDF header is damaged: ";
  const auto cut = [&] { return damaged + "it ends before the header does"; };

  std::uint64_t records = 0;
  if (!count(records)) return cut();
  const bool streaming = records == (cdf5 ? std::numeric_limits<std::uint64_t>::max() : 0xFFFFFFFFu);

  // A name: its length, then its bytes padded to four.
  const auto name = [&]() -> std::string {
    std::uint64_t bytes = 0;
    if (!count(bytes)) return cut();
    if (bytes > in.left() || PaddedTo4(bytes) > in.left())
      return damaged + CFormat("a name of %llu bytes is longer than the file", (unsigned long long)bytes);
    return in.Skip(PaddedTo4(bytes)) ? std::string() : cut();
  };
  // A list's tag and element count; an absent list is two zeros.
  const auto list = [&](std::uint64_t tag, std::uint64_t minElementBytes, std::uint64_t& elements,
                        const char* what) -> std::string {
    std::uint64_t got = 0;
    if (!in.U32(got) || !count(elements)) return cut();
    if (got == 0 && elements == 0) return {};
    if (got != tag) return damaged + CFormat("the list of %s has the wrong tag", what);
    if (elements > kMaxNetcdfElements || elements * minElementBytes > in.left())
      return damaged + CFormat("it declares %llu %s, more than the file could hold", (unsigned long long)elements, what);
    return {};
  };
  const std::uint64_t countBytes = cdf5 ? 8 : 4;
  const auto attributes = [&](const char* what) -> std::string {
    std::uint64_t n = 0;
    if (std::string refusal = list(0x0C, 3 * 4, n, what); !refusal.empty()) return refusal;
    for (std::uint64_t k = 0; k < n; ++k) {
      if (std::string refusal = name(); !refusal.empty()) return refusal;
      std::uint64_t type = 0, values = 0;
      if (!in.U32(type) || !count(values)) return cut();
      const std::uint64_t bytes = TypeBytes(type, cdf5);
      if (bytes == 0) return damaged + CFormat("an attribute has the unknown type %llu", (unsigned long long)type);
      if (values > in.left() / bytes)
        return damaged + CFormat("an attribute of %llu values is longer than the file", (unsigned long long)values);
      if (!in.Skip(PaddedTo4(values * bytes))) return cut();
    }
    return {};
  };

  std::uint64_t dimensions = 0;
  if (std::string refusal = list(0x0A, 4 + countBytes, dimensions, "dimensions"); !refusal.empty()) return refusal;
  std::vector<std::uint64_t> lengths;
  lengths.reserve(std::size_t(dimensions));
  for (std::uint64_t k = 0; k < dimensions; ++k) {
    if (std::string refusal = name(); !refusal.empty()) return refusal;
    std::uint64_t length = 0;
    if (!count(length)) return cut();
    lengths.push_back(length == 0 ? (streaming ? 0 : records) : length);
  }
  if (std::string refusal = attributes("global attributes"); !refusal.empty()) return refusal;

  std::uint64_t variables = 0;
  if (std::string refusal = list(0x0B, 7 * 4, variables, "variables"); !refusal.empty()) return refusal;
  for (std::uint64_t k = 0; k < variables; ++k) {
    if (std::string refusal = name(); !refusal.empty()) return refusal;
    std::uint64_t ranks = 0;
    if (!count(ranks)) return cut();
    if (ranks > 1024 || ranks * countBytes > in.left())
      return damaged + CFormat("a variable declares %llu dimensions", (unsigned long long)ranks);
    // Its values, all of which the file must hold: a classic netCDF file
    // stores every value uncompressed.
    long double values = 1;
    for (std::uint64_t r = 0; r < ranks; ++r) {
      std::uint64_t id = 0;
      if (!count(id)) return cut();
      if (id >= dimensions) return damaged + CFormat("a variable names dimension %llu of %llu", (unsigned long long)id, (unsigned long long)dimensions);
      values *= (long double)lengths[std::size_t(id)];
    }
    if (std::string refusal = attributes("variable attributes"); !refusal.empty()) return refusal;
    std::uint64_t type = 0, vsize = 0, begin = 0;
    if (!in.U32(type) || !count(vsize) || !(version == 1 ? in.U32(begin) : in.U64(begin))) return cut();
    const std::uint64_t bytes = TypeBytes(type, cdf5);
    if (bytes == 0) return damaged + CFormat("a variable has the unknown type %llu", (unsigned long long)type);
    if (values * (long double)bytes > (long double)input.sizeBytes)
      return damaged + CFormat("a variable of %.0Lf values is larger than the file's %llu bytes", values,
                               (unsigned long long)input.sizeBytes);
  }
  return {};
}

std::string GdalFenceRefusal(const std::string& name, const std::string& path) {
  if (std::string refusal = RemoteNameRefusal(name); !refusal.empty()) return refusal;
  GDALDriverH driver = GDALIdentifyDriverEx(name.c_str(), GDAL_OF_RASTER, AllowedGridDrivers(), nullptr);
  if (driver == nullptr) return {};  // GDAL will not open it either: the caller's message
  const char* shortName = GDALGetDriverShortName(driver);
  if (EQUAL(shortName, "VRT")) return VrtSourcesRefusal(path, 1);
  if (EQUAL(shortName, "netCDF")) return NetcdfHeaderRefusal(path);
  return {};
}

}  // namespace globelayers

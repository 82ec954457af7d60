// Small grid files written by the tests themselves.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace globelayers::testing_fixtures {

// A temporary folder removed with the fixture.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("gl_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

// Surfer 6 binary grid: header, then rows from yMin up, each from xMin on.
inline std::string WriteSurfer6(const std::string& path, int nx, int ny, double xMin, double xMax,
                                double yMin, double yMax,
                                const std::function<float(double x, double y)>& value) {
  std::string b = "DSBB";
  auto put = [&b](const void* p, std::size_t n) { b.append(static_cast<const char*>(p), n); };
  const std::int16_t cols = static_cast<std::int16_t>(nx), rows = static_cast<std::int16_t>(ny);
  put(&cols, 2);
  put(&rows, 2);
  const double head[] = {xMin, xMax, yMin, yMax, -1e4, 1e4};
  put(head, sizeof head);
  for (int iy = 0; iy < ny; ++iy) {
    for (int ix = 0; ix < nx; ++ix) {
      const double x = xMin + ix * (xMax - xMin) / (nx - 1);
      const double y = yMin + iy * (yMax - yMin) / (ny - 1);
      const float v = value(x, y);
      put(&v, 4);
    }
  }
  std::ofstream(path, std::ios::binary) << b;
  return path;
}

// A global 1-degree grid, -180..180 by -90..90.
inline std::string WriteGlobalGrid(const std::string& path,
                                   const std::function<float(double x, double y)>& value) {
  return WriteSurfer6(path, 361, 181, -180, 180, -90, 90, value);
}

}  // namespace globelayers::testing_fixtures

// A decimal-comma locale for the length of a test, restored on every path.
#pragma once

#include <clocale>
#include <cstdio>
#include <string>

namespace globelayers::test {

class TGermanLocale {
 public:
  TGermanLocale() {
    const char* old = std::setlocale(LC_ALL, nullptr);
    saved_ = old ? old : "C";
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;  // scripts/setup.sh generates it
  }
  ~TGermanLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  TGermanLocale(const TGermanLocale&) = delete;
  TGermanLocale& operator=(const TGermanLocale&) = delete;

  bool active() const { return active_; }
  // What plain printf makes of 1.5 here: "1,5" when the locale took.
  static std::string PlainPrintf() {
    char plain[32];
    std::snprintf(plain, sizeof plain, "%.1f", 1.5);
    return plain;
  }

 private:
  std::string saved_;
  bool active_ = false;
};

}  // namespace globelayers::test

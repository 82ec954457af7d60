#include "NumberText.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <locale.h>
#include <vector>

namespace globelayers {
namespace {

// The "C" locale made once; uselocale() switches only the calling thread.
locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return loc;
}

class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string CFormatV(const char* format, std::va_list args) {
  CLocaleScope scope;
  char small[256];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, n);
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string CFormat(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string s = CFormatV(format, args);
  va_end(args);
  return s;
}

int CScan(const char* text, const char* format, ...) {
  CLocaleScope scope;
  std::va_list args;
  va_start(args, format);
  const int n = std::vsscanf(text, format, args);
  va_end(args);
  return n;
}

std::string FormatMessage(const char* format, const std::string& arg) {
  return CFormat(format, arg.c_str());
}

bool TextToFloat(std::string_view text, char decimalSeparator, double& value) {
  std::string_view s = Trim(text);
  if (s.empty()) return false;
  std::string norm;
  norm.reserve(s.size());
  std::size_t i = 0;
  if (s[0] == '+' || s[0] == '-') norm.push_back(s[i++]);
  bool digits = false, separator = false, exponent = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      norm.push_back(c);
    } else if (c == decimalSeparator && !separator && !exponent) {
      separator = true;
      norm.push_back('.');
    } else if ((c == 'e' || c == 'E') && digits && !exponent) {
      exponent = true;
      norm.push_back('e');
      if (i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) norm.push_back(s[++i]);
      if (i + 1 >= s.size()) return false;  // an exponent needs digits
    } else {
      return false;
    }
  }
  if (!digits) return false;
  double v = 0;
  const char* first = norm.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, norm.data() + norm.size(), v);
  if (ec != std::errc() || end != norm.data() + norm.size()) return false;
  value = v;
  return true;
}

bool TextToInt(std::string_view text, int& value) {
  std::string_view s = Trim(text);
  // from_chars takes a '-' but no '+'; one sign at most.
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  if (s.empty()) return false;
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  value = v;
  return true;
}

}  // namespace globelayers

#include "UserLocale.h"

#include <QLocale>

#include <string>

#include "NumberText.h"

namespace globelayers {

char UserDecimalSeparator() {
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point[0].unicode() > 0x20 && point[0].unicode() < 0x7f)
    return static_cast<char>(point[0].unicode());
  return '.';
}

QString FloatToStr(double value) {
  // %.15G gives the digits; the exponent is then written without '+' and
  // leading zeros, as the windows have always shown it.
  std::string text = CFormat("%.15G", value);
  const auto e = text.find('E');
  if (e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
      if (exponent[0] == '-') sign = "-";
      exponent.erase(0, 1);
    }
    while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
    text = mantissa + "E" + sign + exponent;
  }
  const char separator = UserDecimalSeparator();
  if (separator != '.') {
    for (char& c : text)
      if (c == '.') c = separator;
  }
  return QString::fromStdString(text);
}

}  // namespace globelayers

// Numbers typed into and shown in the windows follow the user's locale.
// Files never do: they go through NumberText.h with the decimal point.
#pragma once

#include <QString>

namespace globelayers {

// The decimal separator of the user's locale (QLocale()), as one 8-bit
// character for TextToFloat. A separator outside ASCII cannot be typed
// through that conversion, so such locales fall back to the point.
char UserDecimalSeparator();

// The standard number-to-text conversion of the windows: at most 15
// significant digits, no trailing zeros, an exponent only for very large or
// small numbers ("1E-5", "1E20"), the user's decimal separator.
QString FloatToStr(double value);

}  // namespace globelayers

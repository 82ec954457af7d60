// Numbers as text, independent of the process locale.
//
// Files (point files, result files, run logs, settings) always use the
// decimal point: the desktop toolkit sets the user's locale at start-up,
// and plain printf/sscanf would then write and read decimal commas.
// Numbers typed into the windows use the user's decimal separator, which
// the caller passes explicitly.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace globelayers {

// printf into a std::string in the "C" locale (decimal point), on this
// thread only; the process locale is left alone.
std::string CFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string CFormatV(const char* format, std::va_list args);

// sscanf in the "C" locale; returns what sscanf returns.
int CScan(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// A printf-style message whose one %s is `arg`. The argument is never used
// as a format itself, so a file name holding '%' is harmless.
std::string FormatMessage(const char* format, const std::string& arg);

// The standard text-to-number conversion of the windows: optional blanks
// around, an optional sign, digits with at most one `decimalSeparator`, an
// optional exponent. No group separators, no other decimal separator.
// False when the text does not convert.
bool TextToFloat(std::string_view text, char decimalSeparator, double& value);

// Whole number in decimal, with optional sign and blanks around.
bool TextToInt(std::string_view text, int& value);

}  // namespace globelayers

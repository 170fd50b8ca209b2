// Number text shared by the whole program: the program-wide decimal
// separator, the shortest 15-digit form of a double, the "#,##0.###" style
// formats of axis labels, the fixed formats of the receiver report, and the
// integer rounding rules (half to even, truncation, MulDiv).
//
// Nothing here reads the C library's locale for formatting or parsing, so a
// process running under a comma locale prints and reads the same text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// Program-wide decimal separator; "." unless changed. The main window forces
// it to "." at start-up and again at every range change.
char DecimalSeparator();
void SetDecimalSeparator(char c);

// Thousands separator used by "#,##0" formats: the user's locale's, but never
// the decimal separator itself (and "," when the locale names none).
std::string ThousandSeparator();
// Re-reads the locale's separator; the program reads it once at start.
void ReloadThousandSeparator();
// Forces a thousands separator (tests, or a program that wants a fixed one).
void SetThousandSeparator(std::string sep);

// Shortest general form with 15 significant digits: "138", "88.6", "0.1",
// "1E20", "1.5E-5". Uses the program-wide decimal separator.
std::string FloatToStr(double v);

// Parses a whole text as a number with the program-wide decimal separator.
// Accepts surrounding blanks, a sign, digits with one separator, and an
// exponent. Returns false (and leaves out untouched) on anything else.
bool TryStrToFloat(std::string_view text, double& out);

// Formats like "#,##0.###": '0' digits are mandatory, '#' optional, ',' in the
// integer part turns on grouping, '.' marks the decimals. Rounds half away
// from zero at the last decimal. Negative values get a leading "-" (but a
// value that rounds to zero prints without a sign).
std::string FormatFloat(std::string_view format, double v);

// The receiver report's formats: "%d" (signed integer), "%f" (two decimals,
// 781.25), "%.1f" (one decimal). Always "." as decimal point.
std::string FormatInt(long long v);
std::string FormatFixed(double v, int decimals);

// Nearest integer, halves to the even neighbour.
long long RoundHalfEven(long double x);
// Drops the fraction toward zero.
long long Trunc(long double x);
// a * b / c rounded to nearest, halves away from zero; -1 when c is 0 or the
// result does not fit in 32 bits (the platform's MulDiv).
int MulDiv(int a, int b, int c);

}  // namespace rt

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonvera {

// Reading and writing the value formats of the configuration file. None of these
// depends on the process locale: the decimal mark is always ".".

/// An optionally signed ("+" or "-") decimal integer in the range of a 32-bit int.
/// Empty text, any other character, trailing characters or overflow: nothing.
std::optional<std::int32_t> ParseInteger(std::string_view text);

/// A decimal number with "." as decimal point and an optional exponent ("-6.5", "1e3",
/// ".5", "5."). No blanks, no "inf"/"nan", no hexadecimal, no overflow: else nothing.
std::optional<double> ParseReal(std::string_view text);

/// False only for exactly "FALSE"; everything else, "false" and "" included, is true.
bool ParseBoolean(std::string_view text);

/// Decimal digits with a leading "-" for negative values.
std::string FormatInteger(std::int64_t value);

/// Fixed-point text with `decimals` digits after the "." (none and no point for 0),
/// rounded to the nearest representable text, exact halves to even. A value that
/// rounds to zero is written without a minus sign. Non-finite values give "nan"/"inf",
/// which read back as unparsable.
std::string FormatReal(double value, int decimals);

/// "TRUE" or "FALSE".
std::string FormatBoolean(bool value);

/// Nearest integer, halves to even (2.5 gives 2, 3.5 gives 4, -2.5 gives -2).
double RoundHalfEven(double value);

}  // namespace sonvera

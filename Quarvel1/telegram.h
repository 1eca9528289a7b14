// The position telegram: reading the operator's numbers, printing the fields and closing the
// line with its checksum. Nothing here depends on the process locale, so a decimal comma in the
// user's settings never reaches the wire.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quarvel {

enum class ReferenceFrame : std::int32_t { Bow = 1, North = 2, East = 3 };

// A local time of day, hour 0-23, minute 0-59, second 0-59 (60 on a leap second), ms 0-999.
struct LocalTime {
    int hour;
    int minute;
    int second;
    int millisecond;
};

// Where the composer takes its time from; tests give a fixed one.
using Clock = std::function<LocalTime()>;

// The local wall clock (time zone and daylight saving applied), to the millisecond.
LocalTime local_wall_clock();

// Reads one number the way "%lf" does, from at most the first 19 characters of `text`: white
// space skipped, then the longest prefix that forms a decimal number (optional sign, digits with
// at most one ".", at least one digit, optional exponent). No number gives 0. The words "inf" and
// "nan" and hexadecimal notation are not numbers here. A value beyond the double range gives
// +/-infinity, one below it the nearest subnormal or 0.
double read_number(std::string_view text);

// Prints `value` as "%.2lf" does in the C locale; with `width` > 0, as "%0<width>.2lf" does
// (zeros after the sign). Infinity and NaN print as "inf", "-inf", "nan", "-nan", blank-padded.
std::string format_fixed2(double value, int width = 0);

// The time field's value: hour * 10000 + minute * 100 + second + millisecond * 0.001.
double time_value(const LocalTime& time);

// XOR of the character codes of `text` from its second character to its end. An empty text or
// a null pointer gives 0 (there is no second character to start from).
int telegram_checksum(const char* text);

// The whole telegram for the given time, coordinates and frame, ending "*HH\r\n". It is built
// whole, whatever its length (a coordinate of 1e300 prints with more than 300 digits), so a sent
// telegram is always complete. A frame value outside the enumeration is treated as Bow.
std::string compose_telegram_text(const LocalTime& time, double x, double y, double z,
                                  ReferenceFrame frame);

// One full composition as the panel does it: reads `clock`, reads the three input texts with
// read_number and composes the telegram.
std::string compose_telegram_from_inputs(const Clock& clock, std::string_view x_text,
                                         std::string_view y_text, std::string_view z_text,
                                         ReferenceFrame frame);

}  // namespace quarvel

#include "telegram.h"

#include <locale.h>
#include <stdlib.h>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace quarvel {
namespace {

// The reader sees no more of an input than the original fixed-size copy held.
constexpr std::size_t kInputChars = 19;

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the longest prefix of `s` that forms a decimal floating-point number, 0 if none.
std::size_t number_prefix_length(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    // An exponent counts only when at least one digit follows "e" and its sign.
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            ++j;
        }
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j])) {
                ++j;
            }
            i = j;
        }
    }
    return i;
}

// strtod_l under the "C" locale converts exactly and saturates to +/-HUGE_VAL or underflows
// to a subnormal or 0 as formatted input does; the prefix given to it is already validated.
locale_t c_locale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

double read_number(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kInputChars));
    std::size_t start = 0;
    while (start < text.size() && is_c_space(text[start])) {
        ++start;
    }
    const std::string_view rest = text.substr(start);
    const std::size_t length = number_prefix_length(rest);
    if (length == 0) {
        return 0.0;
    }
    const std::string number(rest.substr(0, length));
    return strtod_l(number.c_str(), nullptr, c_locale());
}

std::string format_fixed2(double value, int width) {
    // 309 integer digits of the largest double, a sign, a point and two decimals.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 2);
    std::string text(buffer.data(), result.ptr);
    if (width <= 0 || text.size() >= static_cast<std::size_t>(width)) {
        return text;
    }
    const std::size_t fill = static_cast<std::size_t>(width) - text.size();
    if (!std::isfinite(value)) {
        return std::string(fill, ' ') + text;
    }
    const std::size_t after_sign = (text.front() == '-') ? 1 : 0;
    text.insert(after_sign, fill, '0');
    return text;
}

double time_value(const LocalTime& time) {
    // The whole part is summed exactly (in double, so no clock value can overflow an int).
    const double whole = static_cast<double>(time.hour) * 10000.0 +
                         static_cast<double>(time.minute) * 100.0 +
                         static_cast<double>(time.second);
    return whole + time.millisecond * 0.001;
}

int telegram_checksum(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return 0;
    }
    int sum = 0;
    for (const char* p = text + 1; *p != '\0'; ++p) {
        sum ^= static_cast<unsigned char>(*p);
    }
    return sum;
}

std::string compose_telegram_text(const LocalTime& time, double x, double y, double z,
                                  ReferenceFrame frame) {
    char letter = 'H';
    double first = x;
    double second = y;
    if (frame == ReferenceFrame::North) {
        letter = 'N';
        first = y;
        second = x;
    } else if (frame == ReferenceFrame::East) {
        letter = 'E';
    }
    std::string line;
    line.reserve(96);
    line += "$PXTQSSB,";
    line += format_fixed2(time_value(time), 9);
    line += ",B31,A,ExD,C,";
    line += letter;
    line += ",F,";
    line += format_fixed2(first);
    line += ',';
    line += format_fixed2(second);
    line += ',';
    line += format_fixed2(z);
    line += ",8.42,N,,";

    static constexpr char kHex[] = "0123456789ABCDEF";
    const int sum = telegram_checksum(line.c_str());
    line += '*';
    line += kHex[(sum >> 4) & 0xF];
    line += kHex[sum & 0xF];
    line += "\r\n";
    return line;
}

std::string compose_telegram_from_inputs(const Clock& clock, std::string_view x_text,
                                         std::string_view y_text, std::string_view z_text,
                                         ReferenceFrame frame) {
    const LocalTime now = clock();
    const double x = read_number(x_text);
    const double y = read_number(y_text);
    const double z = read_number(z_text);
    return compose_telegram_text(now, x, y, z, frame);
}

}  // namespace quarvel

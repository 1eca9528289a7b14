// Checks that a text is one complete telegram line: "$", a body of printable 7-bit ASCII
// without "$" or "*", "*", two uppercase hex digits that equal the XOR of the body, CR LF, and
// nothing after. It shares no code with the composer, so a fault there cannot hide here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct TelegramCheck {
    bool ok = false;
    std::string why;                  // what is wrong, empty when ok
    std::vector<std::string> fields;  // the comma-separated fields between "$" and "*"
};

inline int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lowercase is refused: the line must carry uppercase digits
}

inline TelegramCheck check_telegram(std::string_view line) {
    TelegramCheck result;
    auto fail = [&result](std::string why) {
        result.why = std::move(why);
        return result;
    };
    if (line.size() < 6) {
        return fail("too short for $*HH CR LF");
    }
    if (line.front() != '$') {
        return fail("does not start with $");
    }
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos) {
        return fail("no *");
    }
    if (line.size() != star + 5) {
        return fail("not exactly *HH CR LF after the body");
    }
    if (line[star + 3] != '\r' || line[star + 4] != '\n') {
        return fail("does not end in CR LF");
    }
    const int high = hex_digit_value(line[star + 1]);
    const int low = hex_digit_value(line[star + 2]);
    if (high < 0 || low < 0) {
        return fail("checksum is not two uppercase hex digits");
    }
    unsigned sum = 0;
    const std::string_view body = line.substr(1, star - 1);
    for (const char c : body) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code > 0x7E || c == '$') {
            return fail("body holds a character that is not printable 7-bit ASCII or is $");
        }
        sum ^= code;
    }
    if (sum != static_cast<unsigned>(high * 16 + low)) {
        return fail("checksum does not match the body");
    }
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = body.find(',', begin);
        result.fields.emplace_back(body.substr(begin, comma - begin));
        if (comma == std::string_view::npos) {
            break;
        }
        begin = comma + 1;
    }
    result.ok = true;
    return result;
}

}  // namespace test_support

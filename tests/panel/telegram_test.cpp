#include "Quarvel1/telegram.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/telegram_check.h"

namespace {

using quarvel::LocalTime;
using quarvel::ReferenceFrame;

constexpr LocalTime kAfternoon{14, 5, 9, 123};

std::string hex2(int value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[(value >> 4) & 0xF], kHex[value & 0xF]};
}

// Field 1 of a composed telegram, read back through the independent validator.
std::string time_field_at(const LocalTime& time) {
    const auto check = test_support::check_telegram(
        quarvel::compose_telegram_text(time, 0, 0, 0, ReferenceFrame::Bow));
    return check.ok ? check.fields.at(1) : "invalid: " + check.why;
}

std::string length_of(double x, double y, double z) {
    const std::string line =
        quarvel::compose_telegram_text(kAfternoon, x, y, z, ReferenceFrame::Bow);
    return test_support::check_telegram(line).ok ? std::to_string(line.size()) : "invalid";
}

TEST(Telegram, WorkedExamples) {
    struct Row {
        const char* name;
        std::function<std::string()> actual;
        std::string expected;
    };
    const Row rows[] = {
        {"bow frame at 14:05:09.123",
         [] {
             return quarvel::compose_telegram_text(kAfternoon, 12.5, -3, 40, ReferenceFrame::Bow);
         },
         "$PXTQSSB,140509.12,B31,A,ExD,C,H,F,12.50,-3.00,40.00,8.42,N,,*32\r\n"},
        {"north frame swaps X and Y",
         [] {
             return quarvel::compose_telegram_text(kAfternoon, 12.5, -3, 40, ReferenceFrame::North);
         },
         "$PXTQSSB,140509.12,B31,A,ExD,C,N,F,-3.00,12.50,40.00,8.42,N,,*34\r\n"},
        {"east frame keeps the bow order",
         [] {
             return quarvel::compose_telegram_text(kAfternoon, 12.5, -3, 40, ReferenceFrame::East);
         },
         "$PXTQSSB,140509.12,B31,A,ExD,C,E,F,12.50,-3.00,40.00,8.42,N,,*3F\r\n"},
        {"the three frames are 66 characters", [] { return length_of(12.5, -3, 40); }, "66"},
        {"checksum of $abc", [] { return hex2(quarvel::telegram_checksum("$abc")); }, "60"},
        {"time field after midnight is zero padded",
         [] {
             return time_field_at({0, 5, 12, 340});
         },
         "000512.34"},
        {"milliseconds round into a 60th second",
         [] {
             return time_field_at({10, 0, 59, 999});
         },
         "100060.00"},
        {"last millisecond of the day",
         [] {
             return time_field_at({23, 59, 59, 999});
         },
         "235960.00"},
        {"all zero is 63 characters", [] { return length_of(0, 0, 0); }, "63"},
        {"all at the spinners' low end is 78 characters",
         [] { return length_of(-20000, -20000, -20000); }, "78"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual(), row.expected);
    }
}

TEST(Telegram, ChecksumSkipsTheFirstCharacterAndStopsAtTheTerminator) {
    struct Row {
        const char* name;
        const char* text;
        int expected;
    };
    const Row rows[] = {
        {"null pointer", nullptr, 0},
        {"empty text has no second character", "", 0},
        {"only the first character", "$", 0},
        {"first character never counts", "a", 0},
        {"any first character", "xa", 0x61},
        {"same letter twice cancels", "$aa", 0},
        {"high bytes count whole", "$\xC3\xA9", 0xC3 ^ 0xA9},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(quarvel::telegram_checksum(row.text), row.expected);
    }
}

TEST(Telegram, UnknownFrameValueIsComposedAsBow) {
    const auto line =
        quarvel::compose_telegram_text(kAfternoon, 1, 2, 3, static_cast<ReferenceFrame>(7));
    const auto check = test_support::check_telegram(line);
    ASSERT_TRUE(check.ok) << check.why;
    EXPECT_EQ(check.fields.at(6), "H");
    EXPECT_EQ(check.fields.at(8), "1.00");
    EXPECT_EQ(check.fields.at(9), "2.00");
}

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

TEST(ReadNumber, FollowsFormattedInput) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* name;
        std::string text;
        double expected;
    };
    const Row rows[] = {
        {"trailing letters ignored", "12.5abc", 12.5},
        {"letters only", "abc", 0},
        {"empty", "", 0},
        {"blanks only", "     ", 0},
        {"leading blanks", "   7", 7},
        {"every C white space", " \t\n\v\f\r7", 7},
        {"exponent", "1e3", 1000},
        {"upper-case exponent with sign", "25E-1", 2.5},
        {"comma ends the number", "2,5", 2},
        {"only the first 19 of 23 digits", "12345678901234567890123", 1234567890123456789.0},
        {"19th character is the last read", "0000000000000000001e5", 1},
        {"19 blanks leave nothing", std::string(19, ' ') + "7", 0},
        {"18 blanks and a digit", std::string(18, ' ') + "7", 7},
        {"negative zero", "-0", -0.0},
        {"leading point", ".5", 0.5},
        {"trailing point", "5.", 5},
        {"signed leading point with exponent", "-.5e1", -5},
        {"point alone", ".", 0},
        {"sign alone", "-", 0},
        {"exponent without digits", "1e", 1},
        {"exponent sign without digits", "1e+", 1},
        {"second point ends the number", "12.5.3", 12.5},
        {"point in the exponent ends it", "1.2e3.4", 1200},
        {"two signs", "+-1", 0},
        {"plus sign", "+4", 4},
        {"blank after the sign", "- 1", 0},
        {"infinity word is not a number", "inf", 0},
        {"nan word is not a number", "nan", 0},
        {"hex float reads its leading zero", "0x1p4", 0},
        {"overflow gives infinity", "1e400", kInf},
        {"negative overflow", "-1e400", -kInf},
        {"underflow gives zero", "1e-400", 0},
        {"subnormal kept", "4e-320", 4e-320},
        {"large but finite", "1e300", 1e300},
        {"non-ASCII letter first",
         "\xC3\xA9"
         "5",
         0},
        {"NUL ends the text",
         std::string("4\0"
                     "5",
                     3),
         4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const double value = quarvel::read_number(row.text);
        EXPECT_EQ(bits(value), bits(row.expected)) << value << " != " << row.expected;
    }
}

TEST(FormatFixed2, Table) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* name;
        double value;
        int width;
        std::string expected;
    };
    const Row rows[] = {
        {"exact tie rounds to even, down", 0.125, 0, "0.12"},
        {"exact tie rounds to even, up", 0.375, 0, "0.38"},
        {"binary value just above a tie", 0.005, 0, "0.01"},
        {"tiny negative keeps its sign", -0.001, 0, "-0.00"},
        {"negative zero", -0.0, 0, "-0.00"},
        {"integer", 40, 0, "40.00"},
        {"zero padding", 512.34, 9, "000512.34"},
        {"zero padding goes after the minus", -512.34, 9, "-00512.34"},
        {"wider than the width", 1234567.5, 9, "1234567.50"},
        {"infinity", kInf, 0, "inf"},
        {"negative infinity", -kInf, 0, "-inf"},
        {"infinity is blank padded", kInf, 9, "      inf"},
        {"NaN", std::numeric_limits<double>::quiet_NaN(), 0, "nan"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(quarvel::format_fixed2(row.value, row.width), row.expected);
    }
    EXPECT_EQ(quarvel::format_fixed2(1e300).size(), 304u);
    EXPECT_EQ(quarvel::format_fixed2(-std::numeric_limits<double>::max()).size(), 313u);
}

// snprintf under an explicit "C" locale is the reference for the printed forms.
std::string c_printf(const char* format, double value) {
    const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(c);
    std::vector<char> buffer(512);
    std::snprintf(buffer.data(), buffer.size(), format, value);
    uselocale(previous);
    freelocale(c);
    return buffer.data();
}

TEST(FormatFixed2, MatchesCPrintfOnRandomDoubles) {
    std::mt19937_64 random(20261211);
    std::uniform_real_distribution<double> moderate(-1e7, 1e7);
    for (int i = 0; i < 20000; ++i) {
        // Half arbitrary bit patterns (every exponent, subnormals, inf, NaN), half everyday values.
        const double value = (i % 2 == 0) ? std::bit_cast<double>(random()) : moderate(random);
        SCOPED_TRACE(c_printf("%a", value));
        ASSERT_EQ(quarvel::format_fixed2(value), c_printf("%.2f", value));
        if (std::isfinite(value)) {
            ASSERT_EQ(quarvel::format_fixed2(value, 9), c_printf("%09.2f", value));
        }
    }
}

// Puts the process in a decimal-comma locale for one test and always restores the old one.
class CommaLocale : public testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
            << "de_DE.UTF-8 is not generated (scripts/ensure-locale de_DE.UTF-8)";
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

  private:
    std::string previous_;
};

TEST_F(CommaLocale, ComposerKeepsThePoint) {
    const quarvel::Clock clock = [] { return kAfternoon; };
    EXPECT_EQ(quarvel::compose_telegram_from_inputs(clock, "12.5", "-3", "40", ReferenceFrame::Bow),
              "$PXTQSSB,140509.12,B31,A,ExD,C,H,F,12.50,-3.00,40.00,8.42,N,,*32\r\n");
    EXPECT_EQ(quarvel::read_number("2,5"), 2.0);
    EXPECT_EQ(quarvel::read_number("0.25"), 0.25);
    EXPECT_EQ(quarvel::format_fixed2(-512.34, 9), "-00512.34");
}

// "-" at most once in front, then "inf" or digits, ".", two digits.
bool is_printed_coordinate(std::string_view field) {
    if (!field.empty() && field.front() == '-') {
        field.remove_prefix(1);
    }
    if (field == "inf") {
        return true;
    }
    const std::size_t point = field.find('.');
    if (point == 0 || point == std::string_view::npos || field.size() != point + 3) {
        return false;
    }
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (i != point && (field[i] < '0' || field[i] > '9')) {
            return false;
        }
    }
    return true;
}

// Every input, however bad, gives one well-formed telegram with plain numbers in fields 8 to 10.
void expect_well_formed(const std::string& x, const std::string& y, const std::string& z) {
    const quarvel::Clock clock = [] { return LocalTime{23, 59, 59, 999}; };
    for (const auto frame : {ReferenceFrame::Bow, ReferenceFrame::North, ReferenceFrame::East}) {
        const std::string line = quarvel::compose_telegram_from_inputs(clock, x, y, z, frame);
        const auto check = test_support::check_telegram(line);
        ASSERT_TRUE(check.ok) << check.why << ": " << line;
        ASSERT_EQ(check.fields.size(), 15u);
        const std::vector<std::string> fixed = {"PXTQSSB", "235960.00", "B31", "A", "ExD", "C"};
        for (std::size_t i = 0; i < fixed.size(); ++i) {
            ASSERT_EQ(check.fields[i], fixed[i]);
        }
        ASSERT_EQ(check.fields[7], "F");
        ASSERT_EQ(check.fields[11], "8.42");
        ASSERT_EQ(check.fields[12], "N");
        ASSERT_EQ(check.fields[13], "");
        ASSERT_EQ(check.fields[14], "");
        for (std::size_t i = 8; i <= 10; ++i) {
            ASSERT_TRUE(is_printed_coordinate(check.fields[i])) << check.fields[i];
        }
    }
}

TEST(Telegram, BadInputStillGivesOneCompleteTelegram) {
    const std::vector<std::string> nasty = {
        "",
        "   ",
        std::string(19, '9'),
        std::string(200, '9'),
        "1e300",
        "-1e400",
        "nan",
        "-nan",
        "0x1p4",
        "2,5",
        "\xC3\xA9\xC3\xA8",
        "\x01\x02\r\n\x1B",
        std::string(200, '\xFF'),
        "inf",
        "-0",
        "1e-400",
        std::string("\0\0", 2),
        "*",
        "$",
        "\r\n",
    };
    for (const auto& x : nasty) {
        for (const auto& z : {std::string("0"), x}) {
            SCOPED_TRACE("input: " + x);
            expect_well_formed(x, "-1e300", z);
        }
    }
}

TEST(Telegram, RandomInputStillGivesOneCompleteTelegram) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    // Characters that build numbers and near-numbers, mixed with arbitrary bytes.
    const std::string alphabet = "0123456789+-.eE ,xXpPinfaINFA\t";
    auto random_text = [&] {
        std::string text(random() % 40, ' ');
        for (char& c : text) {
            c = (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                    : alphabet[random() % alphabet.size()];
        }
        return text;
    };
    for (int i = 0; i < 3000; ++i) {
        const std::string x = random_text(), y = random_text(), z = random_text();
        SCOPED_TRACE("inputs: [" + x + "] [" + y + "] [" + z + "]");
        expect_well_formed(x, y, z);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(Telegram, WallClockGivesATimeOfDay) {
    const LocalTime now = quarvel::local_wall_clock();
    EXPECT_GE(now.hour, 0);
    EXPECT_LE(now.hour, 23);
    EXPECT_GE(now.minute, 0);
    EXPECT_LE(now.minute, 59);
    EXPECT_GE(now.second, 0);
    EXPECT_LE(now.second, 60);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

}  // namespace

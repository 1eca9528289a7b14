#include <gtest/gtest.h>

#include <string>

#include "Quarvel1/interval.h"
#include "Quarvel1/title.h"

namespace {

TEST(StripExtension, Table) {
    struct Row {
        const char* name;
        const char* path;
        const char* expected;
    };
    const Row rows[] = {
        {"windows path, last extension only", "C:\\panel\\probe.test.exe", "probe.test"},
        {"posix path without a dot", "/usr/bin/quarvel", "quarvel"},
        {"only an extension", "C:\\x\\.exe", ""},
        {"dot in a folder name only", "/opt/tool.d/quarvel", "quarvel"},
        {"drive colon separates", "C:probe.exe", "probe"},
        {"bare name", "probe", "probe"},
        {"trailing dot", "/x/probe.", "probe"},
        {"path ends in a separator", "/x/", ""},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(quarvel::strip_extension(row.path), row.expected);
    }
}

TEST(DefaultApplicationTitle, Table) {
    struct Row {
        const char* name;
        const char* path;
        const char* expected;
    };
    const Row rows[] = {
        {"program's own name", "/usr/bin/quarvel", "Quarvel"},
        {"cut at the first dot, rest lowered", "C:\\x\\PROBE.test.exe", "Probe"},
        {"already capitalised", "/x/Quarvel.exe", "Quarvel"},
        {"mixed case lowered after the first", "/x/qUARVEL", "Quarvel"},
        {"digit first", "/x/9Lives", "9lives"},
        {"starts with a dot", "/x/.hidden", ""},
        {"non-ASCII bytes kept",
         "/x/\xC3\x89"
         "COLE",
         "\xC3\x89"
         "cole"},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(quarvel::default_application_title(row.path), row.expected);
    }
}

TEST(IntervalFromEnvironment, Table) {
    // 98 zeros, then 7 as the 99th character and 9 as the 100th: only the first 99 are read.
    const std::string hundred_chars = std::string(98, '0') + "79";
    const std::string many_nines(30, '9');
    const std::string minus_many_nines = "-" + many_nines;
    struct Row {
        const char* name;
        const char* value;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"unset", nullptr, 2000},
        {"empty", "", 2000},
        {"blanks then digits then junk", "  250xyz", 500},
        {"zero", "0", 0},
        {"no digits", "abc", 0},
        {"blanks only are set, and read 0", "   ", 0},
        {"doubled", "1500", 3000},
        {"plus sign", "+7", 14},
        {"every C white space", "\t\n\v\f\r12", 24},
        {"digits end at a blank", "12 34", 24},
        {"blank after the sign", "- 5", 0},
        {"negative wraps", "-1", 4294967294u},
        {"largest 32-bit signed", "2147483647", 4294967294u},
        {"doubling reaches 2^32", "2147483648", 0},
        {"beyond 32 bits wraps", "3000000000", 1705032704u},
        {"beyond long saturates high", many_nines.c_str(), 4294967294u},
        {"beyond long saturates low", minus_many_nines.c_str(), 0},
        {"a 100-character value is read to its 99th", hundred_chars.c_str(), 14},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(quarvel::interval_from_environment(row.value), row.expected);
    }
}

}  // namespace

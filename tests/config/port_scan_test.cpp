#include "config_serial/port_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::PortMapEntry;
using platform::PortSource;

struct ScanCase {
    const char* label;
    std::vector<std::string> names;  // map entries' names, in enumeration order
    std::vector<std::string> expected;
};

void PrintTo(const ScanCase& row, std::ostream* os) {
    *os << row.label;
}

class PortScan : public testing::TestWithParam<ScanCase> {};

TEST_P(PortScan, ListsCandidatesFoundInTheMap) {
    std::vector<PortMapEntry> map;
    for (const auto& name : GetParam().names) {
        map.push_back({name, "/dev/null", PortSource::Directory});
    }
    EXPECT_EQ(config_serial::scan_ports(config_serial::port_candidates(), map),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortScan,
    testing::Values(
        ScanCase{"no_ports", {}, {"Fechar"}},
        ScanCase{"whole_texts_compared", {"COM10", "COM1"}, {"Fechar", "COM1", "COM10"}},
        ScanCase{"small_letters_spelt_as_candidate", {"com3", "cOm4"}, {"Fechar", "COM3", "COM4"}},
        ScanCase{
            "candidate_order_not_enumeration_order", {"COM7", "COM2"}, {"Fechar", "COM2", "COM7"}},
        ScanCase{"duplicates_listed_once", {"COM5", "com5", "COM5"}, {"Fechar", "COM5"}},
        ScanCase{"above_256_and_other_names",
                 {"COM300", "COM257", "COM256", "ttyUSB0", "LPT1", "/dev/ttyS0", "COM", ""},
                 {"Fechar", "COM256"}},
        ScanCase{"near_misses",
                 {"COM0", "COM3x", "com03", " COM4", "COM4 ", "COM+5", "COM-6", "COM１"},
                 {"Fechar"}},
        ScanCase{"extremes", {"COM256", "COM1"}, {"Fechar", "COM1", "COM256"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PortCandidates, AreCom1ToCom256InOrder) {
    auto names = config_serial::port_candidates();
    ASSERT_EQ(names.size(), 256u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], "COM" + std::to_string(i + 1));
    }
}

TEST(PortScan, UsesTheGivenCatalogueAndItsSpelling) {
    const std::vector<std::string> candidates{"COM2", "com1"};
    const std::vector<PortMapEntry> map{{"COM1", "/x", PortSource::Kernel},
                                        {"com2", "/y", PortSource::Kernel}};
    EXPECT_EQ(config_serial::scan_ports(candidates, map),
              (std::vector<std::string>{"Fechar", "COM2", "com1"}));
}

}  // namespace

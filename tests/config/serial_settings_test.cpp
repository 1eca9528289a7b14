#include "config_serial/serial_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using config_serial::LineChanged;
using config_serial::PortChanged;
using config_serial::SerialSettings;
using config_serial::SettingsList;

struct CommitCase {
    const char* label;
    SerialSettings pending;
    std::uint32_t change;
};

constexpr SerialSettings kInForce{2, 19200, 1, 3, 2};

TEST(CommitChanges, CopiesDifferingFieldsAndReportsTheirKind) {
    const CommitCase rows[] = {
        {"nothing_changed", kInForce, 0},
        {"port_only", {3, 19200, 1, 3, 2}, PortChanged},
        {"port_to_closed", {0, 19200, 1, 3, 2}, PortChanged},
        {"baud_only", {2, 115200, 1, 3, 2}, LineChanged},
        {"parity_only", {2, 19200, 4, 3, 2}, LineChanged},
        {"data_bits_only", {2, 19200, 1, 4, 2}, LineChanged},
        {"stop_bits_only", {2, 19200, 1, 3, 0}, LineChanged},
        {"port_and_stop_bits", {5, 19200, 1, 3, 1}, PortChanged | LineChanged},
        {"every_field", {0, 1200, 0, 0, 0}, PortChanged | LineChanged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        SerialSettings committed = kInForce;
        EXPECT_EQ(config_serial::commit_changes(row.pending, committed), row.change);
        EXPECT_EQ(committed, row.pending);
    }
}

// One field per list: item -> value by the pick, and value -> the same item back.
struct TableCase {
    SettingsList list;
    std::vector<int> values;  // value of the field for item 0, 1, ...
};

int field(SettingsList list, const SerialSettings& s) {
    switch (list) {
        case SettingsList::Port:
            return s.portIndex;
        case SettingsList::BaudRate:
            return s.baudRate;
        case SettingsList::Parity:
            return s.parity;
        case SettingsList::DataBits:
            return s.dataBitsCode;
        case SettingsList::StopBits:
            return s.stopBitsCode;
    }
    return -1;
}

TEST(PickTables, MapItemsToValuesBothWays) {
    const TableCase rows[] = {
        {SettingsList::BaudRate,
         {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 128000, 256000}},
        {SettingsList::Parity, {0, 1, 2, 3, 4}},
        {SettingsList::DataBits, {4, 3, 2, 1, 0}},
        {SettingsList::StopBits, {0, 1, 2}},
        {SettingsList::Port, {0, 1, 2, 3}},
    };
    for (const auto& row : rows) {
        for (int item = 0; item < static_cast<int>(row.values.size()); ++item) {
            SCOPED_TRACE("list " + std::to_string(static_cast<int>(row.list)) + " item " +
                         std::to_string(item));
            SerialSettings s = config_serial::kDefaultSettings;
            ASSERT_TRUE(config_serial::apply_pick(row.list, item, s));
            EXPECT_EQ(field(row.list, s), row.values[static_cast<std::size_t>(item)]);
            EXPECT_EQ(config_serial::item_for(row.list, s), item);
        }
        if (row.list == SettingsList::Port) {
            continue;  // the port list has as many items as ports were found
        }
        SCOPED_TRACE("past the end of list " + std::to_string(static_cast<int>(row.list)));
        SerialSettings s = config_serial::kDefaultSettings;
        EXPECT_FALSE(config_serial::apply_pick(row.list, static_cast<int>(row.values.size()), s));
        EXPECT_FALSE(config_serial::apply_pick(row.list, -1, s));
        EXPECT_EQ(s, config_serial::kDefaultSettings);
    }
}

TEST(PickTables, DefaultsShowAsTheFirstShowingDoes) {
    const SerialSettings d = config_serial::kDefaultSettings;
    EXPECT_EQ(d, (SerialSettings{0, 9600, 0, 4, 0}));
    EXPECT_EQ(config_serial::item_for(SettingsList::Port, d), 0);
    EXPECT_EQ(config_serial::item_for(SettingsList::BaudRate, d), 3);
    EXPECT_EQ(config_serial::item_for(SettingsList::Parity, d), 0);
    EXPECT_EQ(config_serial::item_for(SettingsList::DataBits, d), 0);
    EXPECT_EQ(config_serial::item_for(SettingsList::StopBits, d), 0);
}

TEST(PickTables, ValuesWithoutAnItemSelectNothing) {
    SerialSettings odd{-1, 300, 9, 7, 5};
    for (auto list : {SettingsList::Port, SettingsList::BaudRate, SettingsList::Parity,
                      SettingsList::DataBits, SettingsList::StopBits}) {
        SCOPED_TRACE(static_cast<int>(list));
        EXPECT_EQ(config_serial::item_for(list, odd), -1);
    }
}

}  // namespace

#include "config_serial/serial_settings.h"

#include <algorithm>

namespace config_serial {

SerialSettings committedSettings = kDefaultSettings;
SerialSettings pendingSettings = kDefaultSettings;
std::uint32_t SettingsChange = 0;

namespace {

constexpr int kParityItems = 5;
constexpr int kDataBitsItems = 5;  // "8" "7" "6" "5" "4"
constexpr int kStopBitsItems = 3;

int index_if_below(int value, int count) {
    return (value >= 0 && value < count) ? value : -1;
}

}  // namespace

int item_for(SettingsList list, const SerialSettings& settings) {
    switch (list) {
        case SettingsList::Port:
            return settings.portIndex >= 0 ? settings.portIndex : -1;
        case SettingsList::BaudRate: {
            auto it = std::ranges::find(kBaudRates, settings.baudRate);
            return it == kBaudRates.end() ? -1 : static_cast<int>(it - kBaudRates.begin());
        }
        case SettingsList::Parity:
            return index_if_below(settings.parity, kParityItems);
        case SettingsList::DataBits:
            return index_if_below(4 - settings.dataBitsCode, kDataBitsItems);
        case SettingsList::StopBits:
            return index_if_below(settings.stopBitsCode, kStopBitsItems);
    }
    return -1;
}

bool apply_pick(SettingsList list, int item, SerialSettings& settings) {
    if (item < 0) {
        return false;
    }
    switch (list) {
        case SettingsList::Port:
            settings.portIndex = item;
            return true;
        case SettingsList::BaudRate:
            if (item >= static_cast<int>(kBaudRates.size())) {
                return false;
            }
            settings.baudRate = kBaudRates[static_cast<std::size_t>(item)];
            return true;
        case SettingsList::Parity:
            if (item >= kParityItems) {
                return false;
            }
            settings.parity = static_cast<std::uint8_t>(item);
            return true;
        case SettingsList::DataBits:
            if (item >= kDataBitsItems) {
                return false;
            }
            settings.dataBitsCode = static_cast<std::uint8_t>(4 - item);
            return true;
        case SettingsList::StopBits:
            if (item >= kStopBitsItems) {
                return false;
            }
            settings.stopBitsCode = static_cast<std::uint8_t>(item);
            return true;
    }
    return false;
}

namespace {

template <typename T>
bool copy_if_changed(const T& pending, T& committed) {
    if (pending == committed) {
        return false;
    }
    committed = pending;
    return true;
}

}  // namespace

std::uint32_t commit_changes(const SerialSettings& pending, SerialSettings& committed) {
    std::uint32_t change = 0;
    if (copy_if_changed(pending.portIndex, committed.portIndex)) {
        change |= PortChanged;
    }
    // Every line field is compared and copied, even after one has already differed.
    bool line = copy_if_changed(pending.baudRate, committed.baudRate);
    line = copy_if_changed(pending.parity, committed.parity) || line;
    line = copy_if_changed(pending.dataBitsCode, committed.dataBitsCode) || line;
    line = copy_if_changed(pending.stopBitsCode, committed.stopBitsCode) || line;
    if (line) {
        change |= LineChanged;
    }
    return change;
}

}  // namespace config_serial

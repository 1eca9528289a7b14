// Serial settings records and the rules the configuration dialog applies to them,
// kept free of widgets so they can be tested on their own.
#pragma once

#include <array>
#include <cstdint>

namespace config_serial {

struct SerialSettings {
    std::int32_t portIndex;     // index in ListBox_Avail; 0 is "Fechar" (port closed)
    std::int32_t baudRate;      // bits per second, one of kBaudRates
    std::uint8_t parity;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t dataBitsCode;  // data bits less 4 (4 means 8 data bits)
    std::uint8_t stopBitsCode;  // 0 one, 1 one and a half, 2 two

    bool operator==(const SerialSettings&) const = default;
};

constexpr std::uint32_t PortChanged = 1;
constexpr std::uint32_t LineChanged = 2;

// Port closed, 9600 bits per second, no parity, 8 data bits, 1 stop bit.
constexpr SerialSettings kDefaultSettings{0, 9600, 0, 4, 0};

constexpr std::array<std::int32_t, 10> kBaudRates{1200,  2400,  4800,   9600,   19200,
                                                  38400, 57600, 115200, 128000, 256000};

// Program-wide state, touched only on the UI thread.
extern SerialSettings committedSettings;  // settings in force
extern SerialSettings pendingSettings;    // the dialog's working copy
extern std::uint32_t SettingsChange;      // PortChanged | LineChanged after the last showing

// The dialog's lists, one per field, in their tab order.
enum class SettingsList { Port, BaudRate, Parity, DataBits, StopBits };

// Item of `list` that shows the value of its field in `settings`; -1 when the value
// has no item (no such value can be committed through the dialog).
int item_for(SettingsList list, const SerialSettings& settings);

// Stores the value of `item` of `list` into its field of `settings`. Returns false and
// leaves `settings` alone when the item does not exist (a negative index, for one).
bool apply_pick(SettingsList list, int item, SerialSettings& settings);

// Copies each field of `pending` that differs into `committed`, in field order, and
// returns which kinds changed: PortChanged, LineChanged, both or 0.
std::uint32_t commit_changes(const SerialSettings& pending, SerialSettings& committed);

}  // namespace config_serial

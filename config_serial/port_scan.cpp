#include "config_serial/port_scan.h"

#include <algorithm>

namespace config_serial {

std::vector<std::string> port_candidates() {
    std::vector<std::string> names;
    names.reserve(256);
    for (int n = 1; n <= 256; ++n) {
        names.push_back("COM" + std::to_string(n));
    }
    return names;
}

std::vector<std::string> scan_ports(std::span<const std::string> candidates,
                                    std::span<const platform::PortMapEntry> map) {
    std::vector<std::string> items{"Fechar"};
    for (const auto& candidate : candidates) {
        bool found = std::ranges::any_of(map, [&](const platform::PortMapEntry& entry) {
            return platform::port_names_equal(entry.name, candidate);
        });
        if (found) {
            items.push_back(candidate);
        }
    }
    return items;
}

std::vector<std::string> scan_system_ports(std::span<const std::string> candidates) {
    auto map = platform::read_port_map(platform::system_port_map_sources());
    auto items = scan_ports(candidates, map);
    platform::install_port_map(std::move(map));
    return items;
}

}  // namespace config_serial

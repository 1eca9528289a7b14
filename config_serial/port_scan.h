// The port scan: which of the candidate names "COM1".."COM256" the port map offers.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/port_map.h"

namespace config_serial {

// "COM1" to "COM256", in ascending number: the catalogue of ListBox_Ports.
std::vector<std::string> port_candidates();

// The items of ListBox_Avail: "Fechar" first, then each candidate (spelt as given)
// that some map entry names, compared as whole texts ignoring ASCII case, in the
// candidates' order and each once. Map entries with other names are ignored.
std::vector<std::string> scan_ports(std::span<const std::string> candidates,
                                    std::span<const platform::PortMapEntry> map);

// The scan of start-up: reads this machine's port map (sysfs and QUARVEL_SERIALCOMM),
// installs it as the map that opening a port goes through, and returns scan_ports of it.
// Never throws for what it finds on disk.
std::vector<std::string> scan_system_ports(std::span<const std::string> candidates);

}  // namespace config_serial

// The serial port map: which port names ("COM3") this machine offers and which
// device each one opens. Linux has no such registry, so it is built once at
// start-up from the kernel's serial devices and an optional directory of links.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class PortSource {
    Kernel,     // a serial device listed in /sys/class/tty
    Directory,  // a link in the directory named by QUARVEL_SERIALCOMM
};

struct PortMapEntry {
    std::string name;         // port name as offered, e.g. "COM3"; may be any text
    std::string device_path;  // what opening the port opens (may be a link)
    PortSource source = PortSource::Kernel;

    bool operator==(const PortMapEntry&) const = default;
};

struct PortMapSources {
    std::string sysfs_tty = "/sys/class/tty";
    std::string dev_dir = "/dev";
    std::optional<std::string> link_dir;  // unset: no directory entries
};

// The sources of the running system: the real sysfs and /dev, and the
// directory named by QUARVEL_SERIALCOMM when that variable is set and not empty.
PortMapSources system_port_map_sources();

// Kernel serial devices, in enumeration order. An entry of sysfs_tty counts when it
// has a "device" link (virtual consoles and pseudo-terminals have none) and its
// "type" attribute, where present, is not 0 (the 8250 placeholders without a UART).
// ttyS<n> is "COM<n+1>", in ascending n; every other device follows in ascending
// kernel name (prefix, then number: ttyACM0, ttyUSB2, ttyUSB10) and takes the next
// number above the highest ttyS name. Never throws; an unreadable tree gives nothing.
std::vector<PortMapEntry> read_kernel_ports(const std::string& sysfs_tty,
                                            const std::string& dev_dir);

// Entries of a link directory, sorted by name, whose target (followed through every
// link) is a character device. Dangling links, loops and other files are left out.
// Never throws; a missing or unreadable directory gives nothing.
std::vector<PortMapEntry> read_port_directory(const std::string& dir);

// The whole map: kernel entries first, then directory entries.
std::vector<PortMapEntry> read_port_map(const PortMapSources& sources);

// Whole-text comparison ignoring ASCII case only, whatever the user's locale.
bool port_names_equal(std::string_view a, std::string_view b);

// Device path for a port written as "\\.\" followed by its name. A directory entry
// wins over a kernel entry of the same name. nullopt when the prefix is missing or
// no entry has that name.
std::optional<std::string> resolve_port_path(std::span<const PortMapEntry> map,
                                             std::string_view port);

// The map of this run: installed once at start-up by the port scan (tests install
// their own). UI thread only. Before any install it is empty.
void install_port_map(std::vector<PortMapEntry> map);
const std::vector<PortMapEntry>& installed_port_map();

// What opening `port` opens: a "\\.\" name through the installed map, "" when the map
// lacks it (so the open fails); any other text is taken as a device path already.
std::string device_path_for(const std::string& port);

// Why `port` cannot be opened, in a line for the operator, as far as the file system tells:
// not in the map, the device gone, no permission. "" when the device looks usable (then
// another program holds it or it refuses the settings).
std::string port_access_problem(const std::string& port);

}  // namespace platform

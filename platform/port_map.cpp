// Builds the serial port map from sysfs and a link directory. All file-system
// access of the port discovery lives here so the scan itself stays a pure function.
#include "platform/port_map.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDevicePrefix = "\\\\.\\";

std::optional<long> parse_number(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    long value = 0;
    const auto* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// "ttyS4" -> 4; anything else -> nullopt.
std::optional<long> legacy_serial_number(std::string_view name) {
    constexpr std::string_view kPrefix = "ttyS";
    if (!name.starts_with(kPrefix)) {
        return std::nullopt;
    }
    return parse_number(name.substr(kPrefix.size()));
}

// Ordering key "prefix, trailing number" so that ttyUSB10 follows ttyUSB9.
auto natural_key(std::string_view name) {
    auto digits_start = name.find_last_not_of("0123456789") + 1;  // npos + 1 == 0
    auto number = parse_number(name.substr(digits_start)).value_or(-1);
    return std::tuple(name.substr(0, digits_start), number, name);
}

// A serial_core port whose UART type reads 0 has no hardware behind it.
bool has_unknown_uart(const fs::path& entry) {
    std::ifstream in(entry / "type");
    if (!in) {
        return false;
    }
    std::string text;
    in >> text;
    auto value = parse_number(text);
    return value && *value == 0;
}

bool is_serial_device(const fs::path& entry) {
    std::error_code ec;
    return fs::exists(entry / "device", ec) && !has_unknown_uart(entry);
}

std::vector<std::string> serial_device_names(const std::string& sysfs_tty) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(sysfs_tty, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (is_serial_device(it->path())) {
            names.push_back(it->path().filename().string());
        }
    }
    return names;
}

std::string com_name(long number) {
    return "COM" + std::to_string(number);
}

}  // namespace

PortMapSources system_port_map_sources() {
    PortMapSources sources;
    if (const char* dir = std::getenv("QUARVEL_SERIALCOMM"); dir != nullptr && *dir != '\0') {
        sources.link_dir = dir;
    }
    return sources;
}

std::vector<PortMapEntry> read_kernel_ports(const std::string& sysfs_tty,
                                            const std::string& dev_dir) {
    std::vector<std::pair<long, std::string>> legacy;
    std::vector<std::string> others;
    for (auto& name : serial_device_names(sysfs_tty)) {
        if (auto n = legacy_serial_number(name)) {
            legacy.emplace_back(*n, std::move(name));
        } else {
            others.push_back(std::move(name));
        }
    }
    std::ranges::sort(legacy);
    std::ranges::sort(others, {}, [](const std::string& s) { return natural_key(s); });

    std::vector<PortMapEntry> entries;
    long next = 1;
    for (const auto& [n, name] : legacy) {
        entries.push_back({com_name(n + 1), dev_dir + "/" + name, PortSource::Kernel});
        next = n + 2;
    }
    for (const auto& name : others) {
        entries.push_back({com_name(next++), dev_dir + "/" + name, PortSource::Kernel});
    }
    return entries;
}

std::vector<PortMapEntry> read_port_directory(const std::string& dir) {
    std::vector<PortMapEntry> entries;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // stat follows every link; dangling links and loops fail here.
        struct stat st {};
        const auto path = it->path().string();
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
            entries.push_back({it->path().filename().string(), path, PortSource::Directory});
        }
    }
    std::ranges::sort(entries, {}, &PortMapEntry::name);
    return entries;
}

std::vector<PortMapEntry> read_port_map(const PortMapSources& sources) {
    auto entries = read_kernel_ports(sources.sysfs_tty, sources.dev_dir);
    if (sources.link_dir) {
        auto links = read_port_directory(*sources.link_dir);
        entries.insert(entries.end(), links.begin(), links.end());
    }
    return entries;
}

bool port_names_equal(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

std::optional<std::string> resolve_port_path(std::span<const PortMapEntry> map,
                                             std::string_view port) {
    if (!port.starts_with(kDevicePrefix)) {
        return std::nullopt;
    }
    const auto name = port.substr(kDevicePrefix.size());
    for (auto source : {PortSource::Directory, PortSource::Kernel}) {
        auto it = std::ranges::find_if(map, [&](const PortMapEntry& e) {
            return e.source == source && port_names_equal(e.name, name);
        });
        if (it != map.end()) {
            return it->device_path;
        }
    }
    return std::nullopt;
}

namespace {

std::vector<PortMapEntry>& current_map() {
    static std::vector<PortMapEntry> map;
    return map;
}

}  // namespace

void install_port_map(std::vector<PortMapEntry> map) {
    current_map() = std::move(map);
}

const std::vector<PortMapEntry>& installed_port_map() {
    return current_map();
}

std::string device_path_for(const std::string& port) {
    if (!port.starts_with(kDevicePrefix)) {
        return port;
    }
    return resolve_port_path(current_map(), port).value_or(std::string());
}

std::string port_access_problem(const std::string& port) {
    const std::string device = device_path_for(port);
    if (device.empty()) {
        return port + " is not among the serial ports found at start-up";
    }
    if (::access(device.c_str(), R_OK | W_OK) == 0) {
        return {};
    }
    const int err = errno;
    std::string text = device + ": " + std::generic_category().message(err);
    if (err == EACCES) {
        text += " (add the user to the dialout group)";
    }
    return text;
}

}  // namespace platform

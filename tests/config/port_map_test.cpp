#include "platform/port_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "config_serial/port_scan.h"
#include "temp_tree.h"

namespace {

using platform::PortMapEntry;
using platform::PortSource;

struct FakeTty {
    std::string name;
    bool device;                      // has the "device" link
    std::optional<std::string> type;  // content of the "type" attribute
};

struct KernelCase {
    const char* label;
    std::vector<FakeTty> ttys;
    std::vector<std::pair<std::string, std::string>> expected;  // (port name, kernel name)
};

void PrintTo(const KernelCase& row, std::ostream* os) {
    *os << row.label;
}

// Lays the entries out as sysfs does: class links to device directories, each with
// an optional "device" link and "type" file.
std::string make_sysfs(const config_test::TempTree& tree, const std::vector<FakeTty>& ttys) {
    auto hw = tree.dir("sys/devices/platform/serial8250");
    auto cls = tree.dir("sys/class/tty");
    for (const auto& tty : ttys) {
        auto dev = tree.dir("sys/devices/tty/" + tty.name);
        tree.file("sys/devices/tty/" + tty.name + "/dev", "4:64\n");
        if (tty.device) {
            tree.link("sys/devices/tty/" + tty.name + "/device", hw);
        }
        if (tty.type) {
            tree.file("sys/devices/tty/" + tty.name + "/type", *tty.type);
        }
        tree.link("sys/class/tty/" + tty.name, dev);
    }
    return cls.string();
}

class KernelNaming : public testing::TestWithParam<KernelCase> {};

TEST_P(KernelNaming, NamesDevicesInAFixedOrder) {
    const auto& row = GetParam();
    config_test::TempTree tree;
    auto sysfs = make_sysfs(tree, row.ttys);

    auto entries = platform::read_kernel_ports(sysfs, "/devroot");

    std::vector<PortMapEntry> expected;
    for (const auto& [port, kernel] : row.expected) {
        expected.push_back({port, "/devroot/" + kernel, PortSource::Kernel});
    }
    EXPECT_EQ(entries, expected);
}

const FakeTty kUart0{"ttyS0", true, "4\n"};
const FakeTty kPlaceholder1{"ttyS1", true, "0\n"};

INSTANTIATE_TEST_SUITE_P(
    Sysfs, KernelNaming,
    testing::Values(
        KernelCase{
            "no_serial_devices",
            {{"tty0", false, {}}, {"tty1", false, {}}, {"ptmx", false, {}}, {"console", false, {}}},
            {}},
        KernelCase{
            "placeholder_skipped_and_usb_above_legacy",
            {kUart0,
             kPlaceholder1,
             {"ttyUSB1", true, {}},
             {"ttyUSB0", true, {}},
             {"ttyACM0", true, {}},
             {"tty0", false, {}}},
            {{"COM1", "ttyS0"}, {"COM2", "ttyACM0"}, {"COM3", "ttyUSB0"}, {"COM4", "ttyUSB1"}}},
        KernelCase{"legacy_gap_keeps_its_number",
                   {{"ttyS3", true, "4\n"}, kUart0, {"ttyUSB0", true, {}}},
                   {{"COM1", "ttyS0"}, {"COM4", "ttyS3"}, {"COM5", "ttyUSB0"}}},
        KernelCase{
            "numbers_sort_as_numbers",
            {{"ttyUSB10", true, {}},
             {"ttyUSB9", true, {}},
             {"ttyS10", true, "4"},
             {"ttyS9", true, "4"}},
            {{"COM10", "ttyS9"}, {"COM11", "ttyS10"}, {"COM12", "ttyUSB9"}, {"COM13", "ttyUSB10"}}},
        KernelCase{"no_legacy_ports_start_at_one",
                   {{"ttyAMA0", true, "0\n"},
                    {"rfcomm0", true, {}},
                    {"ttyACM1", true, {}},
                    {"ttyS2", false, "4\n"}},
                   {{"COM1", "rfcomm0"}, {"COM2", "ttyACM1"}}},
        KernelCase{"unreadable_type_is_kept",
                   {{"ttyS0", true, "garbage"}, {"ttyS1", true, ""}},
                   {{"COM1", "ttyS0"}, {"COM2", "ttyS1"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(KernelPorts, MissingTreeGivesNothing) {
    config_test::TempTree tree;
    EXPECT_TRUE(platform::read_kernel_ports((tree.root() / "absent").string(), "/dev").empty());
    tree.file("plainfile", "x");
    EXPECT_TRUE(platform::read_kernel_ports((tree.root() / "plainfile").string(), "/dev").empty());
}

// The directory offers pseudo-terminals through links, among entries that must be
// left out; the scan then offers exactly the names that match a candidate.
TEST(PortDirectory, OffersLinksToDevicesOnly) {
    config_test::TempTree tree;
    config_test::Pty a;
    config_test::Pty b;
    ASSERT_FALSE(a.slave_path().empty());
    ASSERT_FALSE(b.slave_path().empty());
    auto dir = tree.dir("map");
    tree.link("map/COM7", a.slave_path());
    tree.link("map/com3", b.slave_path());
    tree.link("hop", a.slave_path());
    tree.link("map/COM12", tree.root() / "hop");  // a link to a link
    tree.link("map/COM9", tree.root() / "gone");  // dangling
    tree.link("map/COM5", dir / "COM6");          // loop
    tree.link("map/COM6", dir / "COM5");
    tree.link("map/COM8", tree.dir("a_directory"));
    tree.file("map/COM4", "not a device");
    for (const char* bad : {"COM0", "COM257", "COM3x", "com03", "COM 2", "README"}) {
        tree.link(std::string("map/") + bad, a.slave_path());
    }

    auto entries = platform::read_port_directory(dir.string());

    std::vector<std::string> names;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.source, PortSource::Directory);
        EXPECT_EQ(e.device_path, (dir / e.name).string());
        names.push_back(e.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"COM 2", "COM0", "COM12", "COM257", "COM3x", "COM7",
                                               "README", "com03", "com3"}));

    auto candidates = config_serial::port_candidates();
    EXPECT_EQ(config_serial::scan_ports(candidates, entries),
              (std::vector<std::string>{"Fechar", "COM3", "COM7", "COM12"}));
}

TEST(PortDirectory, HundredsOfEntriesAreCutAtTheLastCandidate) {
    config_test::TempTree tree;
    config_test::Pty pty;
    ASSERT_FALSE(pty.slave_path().empty());
    auto dir = tree.dir("map");
    for (int n = 300; n >= 1; --n) {
        tree.link("map/COM" + std::to_string(n), pty.slave_path());
    }
    auto items = config_serial::scan_ports(config_serial::port_candidates(),
                                           platform::read_port_directory(dir.string()));
    ASSERT_EQ(items.size(), 257u);
    EXPECT_EQ(items[1], "COM1");
    EXPECT_EQ(items[256], "COM256");
}

TEST(PortDirectory, MissingOrNonDirectoryGivesNothing) {
    config_test::TempTree tree;
    tree.file("plainfile", "x");
    EXPECT_TRUE(platform::read_port_directory((tree.root() / "absent").string()).empty());
    EXPECT_TRUE(platform::read_port_directory((tree.root() / "plainfile").string()).empty());
    EXPECT_TRUE(platform::read_port_directory("").empty());
}

TEST(PortMap, KernelEntriesComeFirstThenTheDirectory) {
    config_test::TempTree tree;
    config_test::Pty pty;
    ASSERT_FALSE(pty.slave_path().empty());
    auto sysfs = make_sysfs(tree, {kUart0, {"ttyUSB0", true, {}}});
    auto dir = tree.dir("map");
    tree.link("map/COM1", pty.slave_path());

    platform::PortMapSources sources{sysfs, "/devroot", dir.string()};
    EXPECT_EQ(
        platform::read_port_map(sources),
        (std::vector<PortMapEntry>{{"COM1", "/devroot/ttyS0", PortSource::Kernel},
                                   {"COM2", "/devroot/ttyUSB0", PortSource::Kernel},
                                   {"COM1", (dir / "COM1").string(), PortSource::Directory}}));

    sources.link_dir.reset();
    EXPECT_EQ(platform::read_port_map(sources).size(), 2u);
}

TEST(PortMap, SystemSourcesFollowTheEnvironment) {
    ::setenv("QUARVEL_SERIALCOMM", "/some/dir", 1);
    EXPECT_EQ(platform::system_port_map_sources().link_dir, "/some/dir");
    ::setenv("QUARVEL_SERIALCOMM", "", 1);
    EXPECT_FALSE(platform::system_port_map_sources().link_dir.has_value());
    ::unsetenv("QUARVEL_SERIALCOMM");
    auto sources = platform::system_port_map_sources();
    EXPECT_FALSE(sources.link_dir.has_value());
    EXPECT_EQ(sources.sysfs_tty, "/sys/class/tty");
    EXPECT_EQ(sources.dev_dir, "/dev");
}

struct ResolveCase {
    const char* label;
    const char* port;
    std::optional<std::string> expected;
};

void PrintTo(const ResolveCase& row, std::ostream* os) {
    *os << row.label;
}

class ResolvePort : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvePort, FindsTheDevicePath) {
    const std::vector<PortMapEntry> map{
        {"COM1", "/dev/ttyS0", PortSource::Kernel},
        {"COM2", "/dev/ttyUSB0", PortSource::Kernel},
        {"COM12", "/map/COM12", PortSource::Directory},
        {"com2", "/map/com2", PortSource::Directory},
    };
    EXPECT_EQ(platform::resolve_port_path(map, GetParam().port), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResolvePort,
    testing::Values(ResolveCase{"kernel_entry", "\\\\.\\COM1", "/dev/ttyS0"},
                    ResolveCase{"case_ignored", "\\\\.\\com1", "/dev/ttyS0"},
                    ResolveCase{"directory_wins", "\\\\.\\COM2", "/map/com2"},
                    ResolveCase{"two_digits", "\\\\.\\COM12", "/map/COM12"},
                    ResolveCase{"prefix_only_a_prefix", "\\\\.\\COM", std::nullopt},
                    ResolveCase{"not_in_map", "\\\\.\\COM3", std::nullopt},
                    ResolveCase{"whole_name_compared", "\\\\.\\COM1 ", std::nullopt},
                    ResolveCase{"no_prefix", "COM1", std::nullopt},
                    ResolveCase{"short_prefix", "\\\\COM1", std::nullopt},
                    ResolveCase{"empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

struct NamesCase {
    const char* a;
    const char* b;
    bool equal;
};

TEST(PortNames, CompareWholeTextsIgnoringAsciiCase) {
    const NamesCase rows[] = {
        {"COM1", "COM1", true},
        {"COM1", "com1", true},
        {"cOm256", "COM256", true},
        {"COM1", "COM10", false},
        {"COM10", "COM1", false},
        {"COM1", "COM1\n", false},
        {"COM3", "com03", false},
        {"", "", true},
        {"COM1", "", false},
        {"COM[", "com{", false},
        {"\xc3\x87OM1", "\xc3\xa7OM1", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
        EXPECT_EQ(platform::port_names_equal(row.a, row.b), row.equal);
    }
}

}  // namespace

namespace {

// The map installed for the run decides what "\\.\" names open; paths pass unchanged.
TEST(InstalledPortMap, TurnsPortNamesIntoDevicesToOpen) {
    config_test::TempTree tree;
    config_test::Pty pty;
    ASSERT_FALSE(pty.slave_path().empty());
    auto dir = tree.dir("map");
    tree.link("map/COM4", pty.slave_path());
    tree.link("map/COM5", pty.slave_path());
    platform::install_port_map(platform::read_port_directory(dir.string()));
    ::unlink((dir / "COM5").c_str());  // gone since the scan

    struct Row {
        const char* port;
        std::string device;
        bool problem;
    };
    const Row rows[] = {
        {"\\\\.\\COM4", (dir / "COM4").string(), false},
        {"\\\\.\\com4", (dir / "COM4").string(), false},
        {"\\\\.\\COM5", (dir / "COM5").string(), true},
        {"\\\\.\\COM6", "", true},
        {"/dev/null", "/dev/null", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.port);
        EXPECT_EQ(platform::device_path_for(row.port), row.device);
        EXPECT_EQ(platform::port_access_problem(row.port).empty(), !row.problem);
    }
    // The system's reason, in the operator's language.
    EXPECT_NE(
        platform::port_access_problem("\\\\.\\COM5").find(std::generic_category().message(ENOENT)),
        std::string::npos);
    platform::install_port_map({});
    EXPECT_EQ(platform::device_path_for("\\\\.\\COM4"), "");
}

}  // namespace

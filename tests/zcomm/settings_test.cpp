// The component's properties, the device-control record built from them, and its translation to
// termios, all without a device.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ZComm/device_control.h"
#include "ZComm/zcomm.h"
#include "platform/serial_termios.h"

namespace {

// The values that the main window's description records for its instance.
void load_main_window_values(TZComm& c) {
    c.MaxReadLength = 1024;
    c.InputQueueSize = 1024;
    c.OutputQueueSize = 1024;
    c.EnableParity = false;
    c.XOuputFlowCtl = false;
    c.XInputFlowCtl = false;
    c.ErrorReplace = true;
    c.AbortOnError = false;
    c.ErrorChar = 126;
    c.TimeoutReadInterval = 65535;
    c.TimeoutReadMultiplier = 1;
    c.TimeoutReadConstant = 5000;
    c.TimeoutWriteMultiplier = 1;
    c.SetVersion("1.0.8");
}

struct Field {
    const char* name;
    std::int64_t actual;
    std::int64_t expected;
};

void expect_fields(const std::vector<Field>& fields) {
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(f.actual, f.expected);
    }
}

TEST(ZCommProperties, NewComponentHoldsTheConstructorValues) {
    TZComm c(nullptr);
    EXPECT_EQ(c.Port, "");
    EXPECT_EQ(c.Version(), "1.0.8");
    expect_fields({
        {"State", c.State(), 2},
        {"Connected", c.Connected(), 0},
        {"BaudRate", c.BaudRate, 9600},
        {"Parity", c.Parity, no_parity},
        {"DataBits", c.DataBits, databits8},
        {"StopBits", c.StopBits, stop1},
        {"MaxReadLength", c.MaxReadLength, 8192},
        {"InputQueueSize", c.InputQueueSize, 1024},
        {"OutputQueueSize", c.OutputQueueSize, 1024},
        {"XOnLimit", c.XOnLimit, 150},
        {"XOffLimit", c.XOffLimit, 150},
        {"CTSFlowCtl", c.CTSFlowCtl, 0},
        {"DSRFlowCtl", c.DSRFlowCtl, 0},
        {"EnableParity", c.EnableParity, 0},
        {"DSRSensitive", c.DSRSensitive, 0},
        {"TXResume", c.TXResume, 0},
        {"XOuputFlowCtl", c.XOuputFlowCtl, 1},
        {"XInputFlowCtl", c.XInputFlowCtl, 1},
        {"ErrorReplace", c.ErrorReplace, 1},
        {"DiscardNULL", c.DiscardNULL, 0},
        {"AbortOnError", c.AbortOnError, 0},
        {"ErrorChar", c.ErrorChar, 126},
        {"XOnChar", c.XOnChar, 17},
        {"XOffChar", c.XOffChar, 19},
        {"TimeoutReadInterval", c.TimeoutReadInterval, 65535},
        {"TimeoutReadMultiplier", c.TimeoutReadMultiplier, 1},
        {"TimeoutReadConstant", c.TimeoutReadConstant, 5000},
        {"TimeoutWriteMultiplier", c.TimeoutWriteMultiplier, 1},
        {"TimeoutWriteConstant", c.TimeoutWriteConstant, 5000},
        {"GetQCountIn before any open", c.GetQCountIn(), 0},
        {"GetQCountOut before any open", c.GetQCountOut(), 0},
    });
    EXPECT_EQ(c.comm_thread(), nullptr);
}

TEST(ZCommProperties, VersionReadsTheSameWhateverIsWritten) {
    TZComm c(nullptr);
    c.SetVersion("2.0");
    EXPECT_EQ(c.Version(), "1.0.8");
}

TEST(ZCommProperties, OperationsOnAClosedComponentFailWithoutActing) {
    TZComm c(nullptr);
    char buf[4];
    expect_fields({
        {"SetConnection", c.SetConnection(), 0},
        {"SetTimeouts", c.SetTimeouts(), 0},
        {"GetTimeouts", c.GetTimeouts(), 0},
        {"SetFlowCtl", c.SetFlowCtl(1), 0},
        {"ReadComm", c.ReadComm(buf, 4), 0},
        {"SetDTR", c.SetDTR(), 0},
        {"PurgeCommPort", c.PurgeCommPort(15), 0},
        {"GetTransmissionStatus", c.GetTransmissionStatus(), 0},
        {"CloseConnection", c.CloseConnection(), 1},
        {"Connected after close", c.Connected(), 0},
    });
    EXPECT_EQ(c.TimeoutReadInterval, 65535) << "GetTimeouts must leave the properties alone";
}

// What the device receives for the main window's instance after 9600 8N1.
TEST(DeviceControl, MainWindowInstanceAt9600_8N1) {
    TZComm c(nullptr);
    load_main_window_values(c);
    c.BaudRate = 9600;
    c.Parity = no_parity;
    c.DataBits = databits8;
    c.StopBits = stop1;
    platform::Dcb before;
    before.EofChar = 26;
    before.EvtChar = 10;
    const platform::Dcb d = zcomm::device_control(c, before);
    expect_fields({
        {"DCBlength", d.DCBlength, 28},
        {"BaudRate", d.BaudRate, 9600},
        {"ByteSize", d.ByteSize, 8},
        {"Parity", d.Parity, 0},
        {"StopBits", d.StopBits, 0},
        {"fBinary", d.fBinary, 1},
        {"fParity", d.fParity, 0},
        {"fOutxCtsFlow", d.fOutxCtsFlow, 0},
        {"fRtsControl", d.fRtsControl, 1},
        {"fOutxDsrFlow", d.fOutxDsrFlow, 0},
        {"fDtrControl", d.fDtrControl, 1},
        {"fDsrSensitivity", d.fDsrSensitivity, 0},
        {"fTXContinueOnXoff", d.fTXContinueOnXoff, 0},
        {"fOutX", d.fOutX, 0},
        {"fInX", d.fInX, 0},
        {"fErrorChar", d.fErrorChar, 1},
        {"fNull", d.fNull, 0},
        {"fAbortOnError", d.fAbortOnError, 0},
        {"XonLim", d.XonLim, 150},
        {"XoffLim", d.XoffLim, 150},
        {"XonChar", d.XonChar, 17},
        {"XoffChar", d.XoffChar, 19},
        {"ErrorChar", d.ErrorChar, 126},
        {"EofChar kept from the device", d.EofChar, 26},
        {"EvtChar kept from the device", d.EvtChar, 10},
    });
    const platform::CommTimeouts t = zcomm::comm_timeouts(c);
    expect_fields({
        {"ReadIntervalTimeout", t.ReadIntervalTimeout, 65535},
        {"ReadTotalTimeoutMultiplier", t.ReadTotalTimeoutMultiplier, 1},
        {"ReadTotalTimeoutConstant", t.ReadTotalTimeoutConstant, 5000},
        {"WriteTotalTimeoutMultiplier", t.WriteTotalTimeoutMultiplier, 1},
        {"WriteTotalTimeoutConstant", t.WriteTotalTimeoutConstant, 5000},
        {"InputQueueSize", c.InputQueueSize, 1024},
        {"OutputQueueSize", c.OutputQueueSize, 1024},
    });
    const platform::Translation tr = platform::translate(d, platform::TermiosImage{});
    EXPECT_TRUE(tr.refused.empty()) << tr.refused;
}

// A termios image as a fresh terminal has it: line editing, echo and translations on.
platform::TermiosImage cooked() {
    platform::TermiosImage im;
    im.iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT;
    im.oflag = OPOST | ONLCR;
    im.lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    im.cflag = CS7 | PARENB | HUPCL;
    return im;
}

struct AcceptedRow {
    const char* name;
    std::function<void(TZComm&)> set;
    std::function<void(const platform::Dcb&)> record;
    std::uint32_t cflag_on;
    std::uint32_t cflag_off;
    std::uint32_t iflag_on;
    std::uint32_t iflag_off;
    std::uint32_t speed;
};

TEST(DeviceControl, AcceptedSettingsTranslateToTermios) {
    const std::vector<AcceptedRow> rows = {
        {"main window 9600 8N1", [](TZComm&) {}, [](const platform::Dcb&) {}, CS8,
         PARENB | CSTOPB | CRTSCTS | CMSPAR, PARMRK, IXON | IXOFF | INPCK, 9600},
        {"CTS flow control", [](TZComm& c) { c.CTSFlowCtl = true; },
         [](const platform::Dcb& d) {
             EXPECT_EQ(d.fOutxCtsFlow, 1);
             EXPECT_EQ(d.fRtsControl, 2);
         },
         CRTSCTS, 0, 0, 0, 9600},
        {"odd parity checked", [](TZComm& c) { c.Parity = odd_parity, c.EnableParity = true; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.Parity, 1); }, PARENB | PARODD, CMSPAR, INPCK, 0,
         9600},
        {"even parity", [](TZComm& c) { c.Parity = even_parity; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.Parity, 2); }, PARENB, PARODD | CMSPAR, 0, INPCK,
         9600},
        {"mark parity", [](TZComm& c) { c.Parity = mark_parity; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.Parity, 3); }, PARENB | PARODD | CMSPAR, 0, 0, 0,
         9600},
        {"space parity", [](TZComm& c) { c.Parity = space_parity; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.Parity, 4); }, PARENB | CMSPAR, PARODD, 0, 0,
         9600},
        {"7 data bits, 2 stop bits", [](TZComm& c) { c.DataBits = databits7, c.StopBits = stop2; },
         [](const platform::Dcb& d) {
             EXPECT_EQ(d.ByteSize, 7);
             EXPECT_EQ(d.StopBits, 2);
         },
         CS7 | CSTOPB, 0, 0, 0, 9600},
        {"5 data bits, 1.5 stop bits",
         [](TZComm& c) { c.DataBits = databits5, c.StopBits = stop1x5; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.StopBits, 1); }, CS5 | CSTOPB, 0, 0, 0, 9600},
        {"128000 has no B-constant", [](TZComm& c) { c.BaudRate = 128000; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.BaudRate, 128000u); }, CS8, 0, 0, 0, 128000},
        {"256000 has no B-constant", [](TZComm& c) { c.BaudRate = 256000; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.BaudRate, 256000u); }, CS8, 0, 0, 0, 256000},
        {"software flow control both ways",
         [](TZComm& c) { c.XOuputFlowCtl = true, c.XInputFlowCtl = true; },
         [](const platform::Dcb& d) {
             EXPECT_EQ(d.fOutX, 1);
             EXPECT_EQ(d.fInX, 1);
         },
         0, 0, IXON | IXOFF, IXANY, 9600},
        {"XOnLimit and XOffLimit keep their low 16 bits",
         [](TZComm& c) { c.XOnLimit = 65536 + 7, c.XOffLimit = 65536 * 3 + 9; },
         [](const platform::Dcb& d) {
             EXPECT_EQ(d.XonLim, 7);
             EXPECT_EQ(d.XoffLim, 9);
         },
         CS8, 0, 0, 0, 9600},
        {"error replacement off", [](TZComm& c) { c.ErrorReplace = false; },
         [](const platform::Dcb& d) { EXPECT_EQ(d.fErrorChar, 0); }, 0, 0, 0, PARMRK, 9600},
    };
    for (const AcceptedRow& row : rows) {
        SCOPED_TRACE(row.name);
        TZComm c(nullptr);
        load_main_window_values(c);
        row.set(c);
        const platform::Dcb d = zcomm::device_control(c, platform::Dcb{});
        row.record(d);
        const platform::Translation tr = platform::translate(d, cooked());
        ASSERT_TRUE(tr.refused.empty()) << tr.refused;
        const platform::TermiosImage& im = tr.image;
        EXPECT_EQ(im.cflag & row.cflag_on, row.cflag_on);
        EXPECT_EQ(im.cflag & row.cflag_off, 0u);
        EXPECT_EQ(im.iflag & row.iflag_on, row.iflag_on);
        EXPECT_EQ(im.iflag & row.iflag_off, 0u);
        EXPECT_EQ(im.speed, row.speed);
        EXPECT_EQ(im.cflag & (CREAD | CLOCAL), std::uint32_t{CREAD | CLOCAL});
        // Raw: nothing edits, echoes or translates the bytes.
        EXPECT_EQ(im.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(im.oflag & OPOST, 0u);
        EXPECT_EQ(im.iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
        EXPECT_EQ(im.cflag & HUPCL, std::uint32_t{HUPCL}) << "bits we do not own are kept";
        EXPECT_EQ(im.cc[VSTART], 17);
        EXPECT_EQ(im.cc[VSTOP], 19);
        EXPECT_EQ(im.cc[VMIN], 0);

        // Reading the line back gives the same record for what termios holds.
        const platform::Dcb back = platform::dcb_from_termios(im, d);
        EXPECT_EQ(back.BaudRate, d.BaudRate);
        EXPECT_EQ(back.ByteSize, d.ByteSize);
        EXPECT_EQ(back.Parity, d.Parity);
        EXPECT_EQ(back.StopBits, d.StopBits);
        EXPECT_EQ(back.fBinary, 1);
        EXPECT_EQ(back.fParity, d.fParity);
        EXPECT_EQ(back.fOutxCtsFlow, d.fOutxCtsFlow);
        EXPECT_EQ(back.fRtsControl, d.fRtsControl);
        EXPECT_EQ(back.fOutX, d.fOutX);
        EXPECT_EQ(back.fInX, d.fInX);
        EXPECT_EQ(back.fErrorChar, d.fErrorChar);
    }
}

TEST(DeviceControl, XonAndXoffCharactersReachTheControlCharacters) {
    TZComm c(nullptr);
    c.XOnChar = 'Q';
    c.XOffChar = 'S';
    const auto tr = platform::translate(zcomm::device_control(c, {}), {});
    ASSERT_TRUE(tr.refused.empty());
    EXPECT_EQ(tr.image.cc[VSTART], 'Q');
    EXPECT_EQ(tr.image.cc[VSTOP], 'S');
}

TEST(DeviceControl, ModemLinesFollowTheRecord) {
    TZComm c(nullptr);
    auto tr = platform::translate(zcomm::device_control(c, {}), {});
    EXPECT_EQ(tr.rts, platform::Level::Raise);
    EXPECT_EQ(tr.dtr, platform::Level::Raise);
    c.CTSFlowCtl = true;
    tr = platform::translate(zcomm::device_control(c, {}), {});
    EXPECT_EQ(tr.rts, platform::Level::Keep) << "the driver drives RTS under CTS/RTS handshake";
}

TEST(DeviceControl, RefusedSettings) {
    struct Row {
        const char* name;
        std::function<void(TZComm&)> set;
    };
    const std::vector<Row> rows = {
        {"4 data bits", [](TZComm& c) { c.DataBits = databits4; }},
        {"1.5 stop bits with 8 data bits", [](TZComm& c) { c.StopBits = stop1x5; }},
        {"1.5 stop bits with 6 data bits",
         [](TZComm& c) { c.StopBits = stop1x5, c.DataBits = databits6; }},
        {"2 stop bits with 5 data bits (the line would send 1.5)",
         [](TZComm& c) { c.StopBits = stop2, c.DataBits = databits5; }},
        {"DSR flow control (DTR handshake)", [](TZComm& c) { c.DSRFlowCtl = true; }},
        {"DSR sensitivity", [](TZComm& c) { c.DSRSensitive = true; }},
        {"a rate of 0", [](TZComm& c) { c.BaudRate = 0; }},
        {"an unknown parity code", [](TZComm& c) { c.Parity = static_cast<TParity>(5); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TZComm c(nullptr);
        load_main_window_values(c);
        row.set(c);
        const auto tr = platform::translate(zcomm::device_control(c, {}), {});
        EXPECT_FALSE(tr.refused.empty());
    }
    TZComm c(nullptr);
    c.DataBits = databits4;
    EXPECT_EQ(zcomm::device_control(c, {}).ByteSize, 4) << "the record itself carries code + 4";
}

TEST(DeviceControl, RecordsTheComponentNeverWritesAreRefusedToo) {
    struct Row {
        const char* name;
        std::function<void(platform::Dcb&)> set;
    };
    const std::vector<Row> rows = {
        {"text mode", [](platform::Dcb& d) { d.fBinary = 0; }},
        {"RTS toggle", [](platform::Dcb& d) { d.fRtsControl = 3; }},
        {"CTS output flow without RTS handshake", [](platform::Dcb& d) { d.fOutxCtsFlow = 1; }},
        {"RTS handshake without CTS output flow", [](platform::Dcb& d) { d.fRtsControl = 2; }},
        {"9 data bits", [](platform::Dcb& d) { d.ByteSize = 9; }},
        {"stop bits code 3", [](platform::Dcb& d) { d.StopBits = 3; }},
    };
    TZComm c(nullptr);
    const platform::Dcb good = zcomm::device_control(c, {});
    ASSERT_TRUE(platform::translate(good, {}).refused.empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform::Dcb d = good;
        row.set(d);
        EXPECT_FALSE(platform::translate(d, {}).refused.empty());
    }
}

TEST(ReceiveFilter, ErrorMarksAndNulBytes) {
    struct Row {
        const char* name;
        bool marks;
        char error_char;
        bool discard_nul;
        std::vector<std::string> reads;
        std::string expected;
    };
    using namespace std::string_literals;
    const std::vector<Row> rows = {
        {"without marks everything passes", false, '~', false, {"a\xff\0b"s}, "a\xff\0b"s},
        {"a doubled 0xFF is one data byte",
         true,
         '~',
         false,
         {"a\xff\xff"s
          "b"},
         "a\xff"
         "b"s},
        {"a byte in error becomes the error character",
         true,
         '~',
         false,
         {"a\xff\0x"
          "b"s},
         "a~b"},
        {"a mark split over three reads", true, '~', false, {"a\xff"s, "\0"s, "xb"s}, "a~b"},
        {"0xFF 0xFF split over two reads", true, '~', false, {"\xff"s, "\xff"s}, "\xff"s},
        {"a stray 0xFF passes with its follower",
         true,
         '~',
         false,
         {"\xff"
          "a"s},
         "\xff"
         "a"s},
        {"NUL bytes dropped", false, '~', true, {"a\0\0b\0"s}, "ab"},
        {"a NUL in error is replaced, not dropped", true, '~', true, {"\xff\0\0"s}, "~"},
        {"a zero error character is dropped with NULs", true, '\0', true, {"x\xff\0q"s}, "x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        platform::ReceiveFilter f;
        f.configure(row.marks, row.error_char, row.discard_nul);
        std::string out;
        for (std::string chunk : row.reads) {
            const std::size_t n =
                f.apply(reinterpret_cast<std::uint8_t*>(chunk.data()), chunk.size());
            out.append(chunk.data(), n);
        }
        EXPECT_EQ(out, row.expected);
    }
}

}  // namespace

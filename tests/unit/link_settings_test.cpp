#include "serial/link_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/port.h"

namespace talven {
namespace {

std::string Describe(const LinkSettings& s) {
  auto field = [](const char* name, const auto& value) {
    return std::string(name) + "=" + (value ? std::to_string(static_cast<int>(*value)) : "-") + " ";
  };
  return field("baud", s.baudRate) + field("stop", s.stopBits) + field("parity", s.parity) +
         field("data", s.dataBits) + field("dtr", s.dtr) + field("rts", s.rts) +
         field("cts", s.ctsOutputFlow) + field("dsr", s.dsrOutputFlow) + field("xon", s.xonXoff) +
         (s.undefinedIndex ? "undefined" : "");
}

// 8N1 with the given DTR, RTS and output flow, XON/XOFF off.
LinkSettings Line(std::uint32_t baud, DtrControl dtr, RtsControl rts, std::optional<bool> flow) {
  LinkSettings s;
  s.baudRate = baud;
  s.stopBits = StopBits::kOne;
  s.parity = Parity::kNone;
  s.dataBits = 8;
  s.dtr = dtr;
  s.rts = rts;
  s.ctsOutputFlow = flow;
  s.dsrOutputFlow = flow;
  s.xonXoff = false;
  return s;
}

LinkSettings ModelWord(std::uint32_t baud) {
  return Line(baud, DtrControl::kDisable, RtsControl::kDisable, std::nullopt);
}

template <typename Field, typename Value>
LinkSettings With(Field LinkSettings::*field, Value value) {
  LinkSettings s;
  s.*field = value;
  return s;
}

struct DecodeCase {
  const char* name;
  LinkSettingsWord word;
  LinkSettings expected;
};

class LinkSettingsDecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(LinkSettingsDecodeTest, SelectsExactlyTheseSettings) {
  EXPECT_EQ(Describe(DecodeLinkSettings(GetParam().word)), Describe(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Words, LinkSettingsDecodeTest,
    testing::Values(
        DecodeCase{"Default", kDefaultLinkSettings,
                   Line(9600, DtrControl::kDisable, RtsControl::kDisable, false)},
        DecodeCase{"Model57600", 0x2011511C, ModelWord(57600)},
        DecodeCase{"Model9600", 0x20115117, ModelWord(9600)},
        DecodeCase{"Model115200", 0x2011511D, ModelWord(115200)},
        DecodeCase{"Model19200", 0x20115119, ModelWord(19200)},
        DecodeCase{"Zero", 0, LinkSettings{}},
        // Bits 6-7, 11, 15, 18-19, 23 and 30-31 carry nothing.
        DecodeCase{"IgnoredBits", 0xC08C88C0, LinkSettings{}},
        DecodeCase{"Baud14400", 0x8, With(&LinkSettings::baudRate, 14400u)},
        DecodeCase{"OneAndHalfStop", 0x20, With(&LinkSettings::stopBits, StopBits::kOneAndHalf)},
        DecodeCase{"SpaceParity", 0x500, With(&LinkSettings::parity, Parity::kSpace)},
        DecodeCase{"FourDataBits", 0x1000, With(&LinkSettings::dataBits, std::uint8_t{4})},
        DecodeCase{"DtrHandshake", 0x30000, With(&LinkSettings::dtr, DtrControl::kHandshake)},
        DecodeCase{"RtsToggle", 0x400000, With(&LinkSettings::rts, RtsControl::kToggle)},
        DecodeCase{"CtsOn", 0x01000000, With(&LinkSettings::ctsOutputFlow, true)},
        DecodeCase{"CtsOnThenOff", 0x03000000, With(&LinkSettings::ctsOutputFlow, false)},
        DecodeCase{"DsrOnThenOff", 0x0C000000, With(&LinkSettings::dsrOutputFlow, false)},
        DecodeCase{"XonOn", 0x10000000, With(&LinkSettings::xonXoff, true)},
        DecodeCase{"XonFieldThree", 0x30000000, LinkSettings{}},
        DecodeCase{"Parity6", 0x600, With(&LinkSettings::undefinedIndex, true)},
        DecodeCase{"DataBits7", 0x7000, With(&LinkSettings::undefinedIndex, true)},
        DecodeCase{"Rts5", 0x500000, With(&LinkSettings::undefinedIndex, true)}),
    [](const testing::TestParamInfo<DecodeCase>& param) { return std::string(param.param.name); });

// Device naming is pure, so both systems' forms are checked everywhere.
struct PathCase {
  PortNumber port;
  const char* windows;
  const char* posix;
};

class PortDevicePathTest : public testing::TestWithParam<PathCase> {};

TEST_P(PortDevicePathTest, DefaultNames) {
  char out[32];
  const PathCase& c = GetParam();
  EXPECT_EQ(FormatDefaultDevicePath(DevicePathStyle::kWindows, c.port, out, sizeof out),
            std::string(c.windows).size());
  EXPECT_STREQ(out, c.windows);
  EXPECT_EQ(FormatDefaultDevicePath(DevicePathStyle::kPosix, c.port, out, sizeof out),
            std::string(c.posix).size());
  EXPECT_STREQ(out, c.posix);
}

INSTANTIATE_TEST_SUITE_P(Numbers, PortDevicePathTest,
                         testing::Values(PathCase{9, "\\\\.\\COM9", "/dev/ttyS8"},
                                         PathCase{10, "\\\\.\\COM10", "/dev/ttyS9"},
                                         PathCase{99, "\\\\.\\COM99", "/dev/ttyS98"},
                                         PathCase{100, "\\\\.\\COM100", "/dev/ttyS99"},
                                         PathCase{256, "\\\\.\\COM256", "/dev/ttyS255"}));

TEST(PortDevicePathTest, CutToFitAndAssignedPathsReplaceTheDefault) {
  char out[5] = "xxxx";
  EXPECT_EQ(FormatDefaultDevicePath(DevicePathStyle::kPosix, 12, out, sizeof out), 4u);
  EXPECT_STREQ(out, "/dev");

  PortRegistry ports;
  char native[32];
  char path[32];
  ports.FormatDevicePath(77, native, sizeof native);
  ports.AssignDevicePath(77, "/tmp/cable");
  ports.FormatDevicePath(77, path, sizeof path);
  EXPECT_STREQ(path, "/tmp/cable");
  ports.AssignDevicePath(77, nullptr);
  ports.FormatDevicePath(77, path, sizeof path);
  EXPECT_STREQ(path, native);
}

}  // namespace
}  // namespace talven

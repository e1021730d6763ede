// Decoded link settings written into a Win32 DCB: exactly the members a word names change, with the
// values the Windows headers define, from a DCB with every member set as well as from a cleared
// one; the members that keep bytes raw are set whatever the word and the last program left.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "serial/link_settings.h"
#include "serial/port_backend.h"

namespace talven {
namespace {

using detail::ApplyToDcb;
using Members = std::map<std::string, unsigned long>;

Members Describe(const DCB& d) {
  return {
      {"DCBlength", d.DCBlength},
      {"BaudRate", d.BaudRate},
      {"fBinary", d.fBinary},
      {"fParity", d.fParity},
      {"fOutxCtsFlow", d.fOutxCtsFlow},
      {"fOutxDsrFlow", d.fOutxDsrFlow},
      {"fDtrControl", d.fDtrControl},
      {"fDsrSensitivity", d.fDsrSensitivity},
      {"fTXContinueOnXoff", d.fTXContinueOnXoff},
      {"fOutX", d.fOutX},
      {"fInX", d.fInX},
      {"fErrorChar", d.fErrorChar},
      {"fNull", d.fNull},
      {"fRtsControl", d.fRtsControl},
      {"fAbortOnError", d.fAbortOnError},
      {"XonLim", d.XonLim},
      {"XoffLim", d.XoffLim},
      {"ByteSize", d.ByteSize},
      {"Parity", d.Parity},
      {"StopBits", d.StopBits},
      {"XonChar", static_cast<unsigned char>(d.XonChar)},
      {"XoffChar", static_cast<unsigned char>(d.XoffChar)},
      {"ErrorChar", static_cast<unsigned char>(d.ErrorChar)},
      {"EofChar", static_cast<unsigned char>(d.EofChar)},
      {"EvtChar", static_cast<unsigned char>(d.EvtChar)},
  };
}

// Every member set to a value that no word writes, so that any write shows.
DCB AllSet() {
  DCB d{};
  d.DCBlength = sizeof d;
  d.BaudRate = 1234;
  d.fBinary = 1;
  d.fParity = 1;
  d.fOutxCtsFlow = 1;
  d.fOutxDsrFlow = 1;
  d.fDtrControl = DTR_CONTROL_HANDSHAKE;
  d.fDsrSensitivity = 1;
  d.fTXContinueOnXoff = 1;
  d.fOutX = 1;
  d.fInX = 1;
  d.fErrorChar = 1;
  d.fNull = 1;
  d.fRtsControl = RTS_CONTROL_TOGGLE;
  d.fAbortOnError = 1;
  d.XonLim = 111;
  d.XoffLim = 222;
  d.ByteSize = 3;
  d.Parity = 7;
  d.StopBits = 3;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  d.ErrorChar = 'E';
  d.EofChar = 0x1A;
  d.EvtChar = 'v';
  return d;
}

DCB Cleared() {
  DCB d{};
  d.DCBlength = sizeof d;
  return d;
}

struct DcbCase {
  const char* name;
  LinkSettingsWord word;
  Members changed;  // the members the word writes, with their new values
};

const DcbCase kCases[] = {
    {"NothingSelected", 0x00000000, {}},
    {"IgnoredBitsOnly", 0xC08C88C0, {}},
    {"Default",
     kDefaultLinkSettings,
     {{"BaudRate", CBR_9600},
      {"StopBits", ONESTOPBIT},
      {"Parity", NOPARITY},
      {"fParity", 0},
      {"fErrorChar", 0},
      {"ByteSize", 8},
      {"fDtrControl", DTR_CONTROL_DISABLE},  // the first DCB a port gets never raises them
      {"fRtsControl", RTS_CONTROL_DISABLE},
      {"fOutxCtsFlow", 0},
      {"fOutxDsrFlow", 0},
      {"fOutX", 0},
      {"fInX", 0},
      {"fTXContinueOnXoff", 0}}},
    // The model words leave CTS and DSR flow as the default word set them.
    {"Model57600",
     0x2011511C,
     {{"BaudRate", CBR_57600},
      {"StopBits", ONESTOPBIT},
      {"Parity", NOPARITY},
      {"fParity", 0},
      {"fErrorChar", 0},
      {"ByteSize", 8},
      {"fDtrControl", DTR_CONTROL_DISABLE},
      {"fRtsControl", RTS_CONTROL_DISABLE},
      {"fOutX", 0},
      {"fInX", 0},
      {"fTXContinueOnXoff", 0}}},
    {"Baud110", 0x1, {{"BaudRate", CBR_110}}},
    {"Baud14400", 0x8, {{"BaudRate", CBR_14400}}},
    {"Baud19200", 0x9, {{"BaudRate", CBR_19200}}},
    {"Baud56000", 0xB, {{"BaudRate", CBR_56000}}},
    {"Baud115200", 0xD, {{"BaudRate", CBR_115200}}},
    {"Baud128000", 0xE, {{"BaudRate", CBR_128000}}},
    {"Baud256000", 0xF, {{"BaudRate", CBR_256000}}},
    {"OneStop", 0x10, {{"StopBits", ONESTOPBIT}}},
    {"OneAndHalfStop", 0x20, {{"StopBits", ONE5STOPBITS}}},
    {"TwoStop", 0x30, {{"StopBits", TWOSTOPBITS}}},
    // Parity none stops checking and replacing but keeps the error character.
    {"NoParity", 0x100, {{"Parity", NOPARITY}, {"fParity", 0}, {"fErrorChar", 0}}},
    {"OddParity",
     0x200,
     {{"Parity", ODDPARITY}, {"fParity", 1}, {"fErrorChar", 1}, {"ErrorChar", 0x20}}},
    {"EvenParity",
     0x300,
     {{"Parity", EVENPARITY}, {"fParity", 1}, {"fErrorChar", 1}, {"ErrorChar", 0x20}}},
    {"MarkParity",
     0x400,
     {{"Parity", MARKPARITY}, {"fParity", 1}, {"fErrorChar", 1}, {"ErrorChar", 0x20}}},
    {"SpaceParity",
     0x500,
     {{"Parity", SPACEPARITY}, {"fParity", 1}, {"fErrorChar", 1}, {"ErrorChar", 0x20}}},
    {"FourDataBits", 0x1000, {{"ByteSize", 4}}},
    {"SevenDataBits", 0x4000, {{"ByteSize", 7}}},
    {"DtrOff", 0x10000, {{"fDtrControl", DTR_CONTROL_DISABLE}}},
    {"DtrOn", 0x20000, {{"fDtrControl", DTR_CONTROL_ENABLE}}},
    {"DtrHandshake", 0x30000, {{"fDtrControl", DTR_CONTROL_HANDSHAKE}}},
    {"RtsOff", 0x100000, {{"fRtsControl", RTS_CONTROL_DISABLE}}},
    {"RtsOn", 0x200000, {{"fRtsControl", RTS_CONTROL_ENABLE}}},
    {"RtsHandshake", 0x300000, {{"fRtsControl", RTS_CONTROL_HANDSHAKE}}},
    {"RtsToggle", 0x400000, {{"fRtsControl", RTS_CONTROL_TOGGLE}}},
    {"CtsOn", 0x01000000, {{"fOutxCtsFlow", 1}}},
    {"CtsOff", 0x02000000, {{"fOutxCtsFlow", 0}}},
    {"CtsOnThenOff", 0x03000000, {{"fOutxCtsFlow", 0}}},
    {"DsrOn", 0x04000000, {{"fOutxDsrFlow", 1}}},
    {"DsrOff", 0x08000000, {{"fOutxDsrFlow", 0}}},
    {"DsrOnThenOff", 0x0C000000, {{"fOutxDsrFlow", 0}}},
    {"XonXoffOn", 0x10000000, {{"fOutX", 1}, {"fInX", 1}, {"fTXContinueOnXoff", 0}}},
    {"XonXoffOff", 0x20000000, {{"fOutX", 0}, {"fInX", 0}, {"fTXContinueOnXoff", 0}}},
    {"XonXoffThreeChangesNothing", 0x30000000, {}},
};

using Base = std::pair<const char*, DCB (*)()>;
const Base kBases[] = {{"FromAllSet", AllSet}, {"FromCleared", Cleared}};

class DcbTest : public testing::TestWithParam<std::tuple<DcbCase, Base>> {};

TEST_P(DcbTest, WritesExactlyTheNamedMembers) {
  const auto& [c, base] = GetParam();
  DCB dcb = base.second();
  Members expected = Describe(dcb);
  for (const auto& [member, value] : c.changed) {
    ASSERT_TRUE(expected.count(member)) << member;
    expected[member] = value;
  }
  expected["fBinary"] = 1;
  expected["fNull"] = 0;
  expected["fDsrSensitivity"] = 0;
  expected["fAbortOnError"] = 0;
  expected["fErrorChar"] = expected["fParity"];  // replacement only while parity is checked
  ApplyToDcb(DecodeLinkSettings(c.word), dcb);
  EXPECT_EQ(Describe(dcb), expected);
}

std::string CaseName(const testing::TestParamInfo<DcbTest::ParamType>& param) {
  return std::string(std::get<0>(param.param).name) + std::get<1>(param.param).first;
}

INSTANTIATE_TEST_SUITE_P(Words, DcbTest,
                         testing::Combine(testing::ValuesIn(kCases), testing::ValuesIn(kBases)),
                         CaseName);

// What a port runs with during a transfer: the default word, then the model's.
TEST(DcbSequence, ModelWordAfterTheDefaultLeavesNoFlowControl) {
  for (DCB dcb : {AllSet(), Cleared()}) {
    ApplyToDcb(DecodeLinkSettings(kDefaultLinkSettings), dcb);
    ApplyToDcb(DecodeLinkSettings(0x2011511D), dcb);
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
  }
}

// A read returns at once with what is buffered, else at the first byte, else after the wait; the
// write fields stay.
TEST(ReadWait, EndsAtTheFirstByteOrTheWait) {
  struct Case {
    std::int32_t waitMs;
    DWORD multiplier, constant;
  };
  for (const Case& c : {Case{0, 0, 0}, Case{1, MAXDWORD, 1}, Case{100, MAXDWORD, 100},
                        Case{250, MAXDWORD, 250}, Case{-1, MAXDWORD, MAXDWORD - 1}}) {
    COMMTIMEOUTS t{7, 8, 9, 10, 11};
    detail::SetReadWait(c.waitMs, t);
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD) << c.waitMs;
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, c.multiplier) << c.waitMs;
    EXPECT_EQ(t.ReadTotalTimeoutConstant, c.constant) << c.waitMs;
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u) << c.waitMs;
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 11u) << c.waitMs;
  }
}

}  // namespace
}  // namespace talven

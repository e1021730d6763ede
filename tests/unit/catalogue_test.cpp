#include "models/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace talven {
namespace {

struct NameCase {
  const char* text;
  int expected;
};

class ModelNameLookup : public ::testing::TestWithParam<NameCase> {};

TEST_P(ModelNameLookup, GivesModelOrNone) {
  EXPECT_EQ(LookupByName(ModelNames, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, ModelNameLookup,
                         ::testing::Values(NameCase{"KM525R", 10}, NameCase{"EQR5200PLS", 10},
                                           NameCase{"KM524R", 11}, NameCase{"EVT210", 11},
                                           NameCase{"QR450A", 14}, NameCase{"QR450PL", 255},
                                           NameCase{"QRX620PL", 16}, NameCase{"QRX320PL", 15},
                                           NameCase{"qr140a", 255}, NameCase{"QR140A", 0},
                                           NameCase{"KM539R", 17}, NameCase{"", 255},
                                           NameCase{"KM504", 255}, NameCase{"KM504RX", 255}));

TEST(ModeNameLookup, ExactUpperCaseOnly) {
  EXPECT_EQ(LookupByName(ModeNames, "MASTER"), kMaster);
  EXPECT_EQ(LookupByName(ModeNames, "SLAVE"), kSlave);
  EXPECT_EQ(LookupByName(ModeNames, "COMPARE"), kCompare);
  EXPECT_EQ(LookupByName(ModeNames, "Compare"), 255);
  EXPECT_EQ(LookupByName(ModeNames, "master"), 255);
  EXPECT_EQ(LookupByName(ModeNames, ""), 255);
}

TEST(ModelValueLookup, EveryModelGivesItsProductCode) {
  for (std::size_t id = 0; id < kModelCount; ++id) {
    EXPECT_EQ(std::string(LookupByValue(ModelNames, static_cast<std::uint32_t>(id))),
              kModels[id].productCode)
        << "model " << id;
  }
  EXPECT_STREQ(LookupByValue(ModelNames, 255), "");
  EXPECT_STREQ(LookupByValue(ModeNames, kCompare), "COMPARE");
  // The lookup compares 8-bit values.
  EXPECT_STREQ(LookupByValue(ModelNames, 0x10A), "KM525R");
}

TEST(ModelNames, EveryCommandLineNameRoundTrips) {
  for (std::size_t id = 0; id < kModelCount; ++id) {
    EXPECT_EQ(LookupByName(ModelNames, kModels[id].productCode), id);
    EXPECT_EQ(LookupByName(ModelNames, kModels[id].commandLineLabel), id);
  }
}

TEST(ModelMenu, LinesAreExact) {
  const char* expected[kMenuLineCount] = {
      "  1 : QR140A     (KM504R)     2 : VT210     (KM503R)\n",
      "  3 : QR150M     (KM493R)     4 : QR770A    (KM500R)\n",
      "  5 : QRX320A    (KM506R)     6 : QK410A    (KM508R)\n",
      "  7 : QRX620A    (KM513R)     8 : QM-40     (KM514R)\n",
      "  9 : EQRX320A   (KM506E)     a : EQRX620A  (KM513E)\n",
      "  b : EQR5200PLS (KM525R)     c : EVT210    (KM524R)\n",
      "  d : EQR860PLS  (KM521R)     e : EQR880PLS (KM534R)\n",
      "  f : QR450PL    (KM536R)     g : QRX320PL  (KM537R)\n",
      "  h : QRX620PL   (KM538R)     i : QM-40P    (KM539R)\n",
  };
  for (std::size_t row = 0; row < kMenuLineCount; ++row) {
    const MenuLine line = ModelMenuLine(row);
    EXPECT_STREQ(line.data(), expected[row]);
    EXPECT_EQ(std::strlen(line.data()), kMenuLineLength);
  }
}

TEST(ModelMenu, KeysPickModelsLowerCaseOnly) {
  EXPECT_EQ(ModelForMenuKey('1'), 0);
  EXPECT_EQ(ModelForMenuKey('9'), 8);
  EXPECT_EQ(ModelForMenuKey('a'), 9);
  EXPECT_EQ(ModelForMenuKey('i'), 17);
  for (int key : {int{'A'}, int{'I'}, int{'0'}, int{'j'}, 0, 27, -1})
    EXPECT_EQ(ModelForMenuKey(key), kNoModel) << key;
}

TEST(ModelCatalogue, PerModelConstantsHoldTogether) {
  std::set<std::string_view> identities;
  for (const ModelEntry& model : kModels) {
    EXPECT_GT(model.progressInterval, 0u);
    EXPECT_TRUE(model.cloneIdentity.size() == 7 || model.cloneIdentity.size() == 9);
    EXPECT_EQ(model.productCode.size(), 6u);
    identities.insert(model.cloneIdentity);
    // Only the baud rate index differs between the models' line settings.
    EXPECT_EQ(model.linkSettingsWord & ~0xFu, 0x20115110u);
  }
  EXPECT_EQ(identities.size(), kModelCount);
  for (std::size_t id = 0; id < kModelCount; ++id) {
    EXPECT_EQ(kModels[id].compareAllowed, id == 0 || id == 1 || id == 11) << id;
  }
  EXPECT_EQ(std::string_view(kModels[13].cloneIdentity), kModels[13].menuLabel);
}

}  // namespace
}  // namespace talven

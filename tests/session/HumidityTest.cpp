#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <tuple>

#include "session/Humidity.h"

namespace velutron::test {
namespace {

const FixedLocale kComma{","};
const FixedLocale kDot{"."};

TEST(HumidityTable, RowsHaveTheirLengthsAndNeverRise) {
  const std::vector<int> limits{18,  28,  38,  46,  48,  48,  48,  48,  60,  62,  66,  68,  72,  74,  78,
                                80,  84,  86,  90,  94,  96,  98,  98,  98,  98,  98,  98,  98,  98,  98,
                                98,  98,  98,  98,  98,  98,  98,  98,  158, 158, 168, 168, 168, 168, 178,
                                178, 188, 188, 198, 198, 198, 198, 208, 208, 218, 218, 218};
  size_t entries = 0;
  for (int t = 2; t <= 58; ++t) {
    ASSERT_EQ(DepressionLimit(t), limits[t - 2]) << t;
    const auto row = HumidityTableRow(t);
    ASSERT_EQ(row.size(), size_t{DepressionLimit(t)} + 1) << t;
    entries += row.size();
    for (size_t k = 1; k < row.size(); ++k) EXPECT_LE(row[k], row[k - 1]) << "t=" << t << " i=" << k + 2;
    EXPECT_LE(row[0], 1000) << t;
  }
  EXPECT_EQ(entries, 6637u);
}

TEST(HumidityTable, HoldsTheReferenceValues) {
  // t -> values at i = 2, 5, 10, 20, then the last column and its value.
  const std::map<int, std::array<int, 6>> reference{
      {2, {961, 903, 806, 617, 20, 617}},   {3, {963, 908, 815, 635, 30, 459}},
      {4, {964, 912, 824, 652, 40, 319}},   {5, {966, 915, 832, 667, 48, 227}},
      {6, {967, 919, 839, 682, 50, 233}},   {9, {971, 929, 858, 720, 50, 326}},
      {10, {972, 932, 863, 731, 62, 209}},  {15, {977, 943, 886, 775, 76, 212}},
      {20, {980, 951, 902, 807, 92, 208}},  {23, {982, 955, 910, 823, 100, 220}},
      {25, {983, 957, 914, 831, 100, 261}}, {30, {984, 962, 923, 849, 100, 344}},
      {35, {986, 965, 930, 863, 100, 407}}, {39, {987, 968, 935, 872, 100, 447}},
      {40, {987, 968, 936, 874, 160, 214}}, {45, {988, 970, 941, 884, 170, 239}},
      {50, {989, 972, 944, 871, 200, 201}}, {55, {989, 973, 948, 897, 210, 221}},
      {58, {990, 975, 949, 900, 220, 221}}};
  for (const auto& [t, v] : reference) {
    const auto row = HumidityTableRow(t);
    EXPECT_EQ(row[0], v[0]) << t;
    EXPECT_EQ(row[3], v[1]) << t;
    EXPECT_EQ(row[8], v[2]) << t;
    EXPECT_EQ(row[18], v[3]) << t;
    EXPECT_EQ(row.size() + 1, size_t(v[4])) << t;
    EXPECT_EQ(row.back(), v[5]) << t;
  }
  const std::vector<uint16_t> row20{
      980, 970, 960, 951, 941, 931, 921, 912, 902, 893, 883, 874, 864, 855, 845, 836, 826, 817, 807,
      798, 789, 780, 770, 761, 752, 743, 734, 725, 716, 707, 698, 689, 680, 671, 662, 654, 645, 636,
      627, 619, 610, 602, 593, 584, 575, 567, 558, 550, 541, 533, 524, 516, 508, 500, 491, 483, 475,
      467, 458, 450, 442, 434, 426, 418, 409, 401, 393, 385, 377, 370, 362, 354, 346, 338, 330, 323,
      315, 307, 299, 292, 284, 276, 268, 261, 253, 246, 238, 231, 223, 216, 208};
  const auto actual = HumidityTableRow(20);
  EXPECT_EQ(std::vector<uint16_t>(actual.begin(), actual.end()), row20);
}

struct Case {
  uint16_t wet, dry, value;
  const char* text;
};

void ExpectCases(const std::vector<Case>& cases, const Locale& locale) {
  for (const auto& c : cases) {
    const auto r = HumidityFromPsychrometer(c.wet, c.dry, locale);
    EXPECT_EQ(r.HumidityValue, c.value) << "wet=" << c.wet << " dry=" << c.dry;
    EXPECT_EQ(r.HumidityText, c.text) << "wet=" << c.wet << " dry=" << c.dry;
  }
}

TEST(HumidityFromPsychrometer, OutcomesAndTheirTexts) {
  ExpectCases({{1184, 1200, 902, "90,2%RH"},  // 20.0 / 19.0 degrees: t = 20, i = 10
               {1200, 1200, 1000, "T suchy!"},
               {1201, 1200, 1000, "T suchy!"},
               {1198, 1200, 1000, "100%RH"},     // 1.25 -> i = 1
               {873, 905, 617, "61,7%RH"},       // t = 2, i = 20
               {871, 905, 0, "MIN tab."},        // t = 2, i = 21
               {888, 904, 1000, "Brak tab."},    // 1.5 degrees -> t = 1
               {1800, 1816, 1000, "Brak tab."},  // 58.5 degrees -> t = 59
               {1799, 1815, 949, "94,9%RH"}},    // t = 58, i = 10
              kComma);
  ExpectCases({{1184, 1200, 902, "90.2%RH"}, {0, 2000, 1000, "Brak tab."}}, kDot);
}

TEST(HumidityFromPsychrometer, ColumnAndRowRoundHalvesToEven) {
  ExpectCases({{1197, 1200, 980, "98,0%RH"},  // 1.875 -> 2
               {1196, 1200, 980, "98,0%RH"},  // 2.5 -> 2
               {1188, 1200, 921, "92,1%RH"},  // 7.5 -> 8
               {1180, 1200, 883, "88,3%RH"},  // 12.5 -> 12
               {904, 920, 815, "81,5%RH"}},   // dry 57.5 -> 58: t = 3, i = 10
              kComma);
}

}  // namespace
}  // namespace velutron::test

#include <gtest/gtest.h>

#include <vector>

#include "platform/Cp1250.h"

namespace velutron {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(Cp1250, EveryByteSurvivesARoundTripThroughUtf8) {
  std::vector<uint8_t> all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
  EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
  for (uint8_t b : all) {
    std::vector<uint8_t> one{b};
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(one)), one) << "byte " << int{b};
  }
}

TEST(Cp1250, ControlBytesAndUndefinedPositionsDecodeToTheSameCodePoints) {
  EXPECT_EQ(Cp1250ToUtf8(Bytes({0x00, 0x0D, 0x0A, 0x1F, 0x7F})), std::string("\0\r\n\x1F\x7F", 5));
  EXPECT_EQ(Cp1250ToUtf8(Bytes({0x81, 0x83, 0x88, 0x90, 0x98})), "\u0081\u0083\u0088\u0090\u0098");
}

TEST(Cp1250, PolishLettersEuroAndDegreeConvertBothWays) {
  const std::string text = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ € 25°C";
  const auto bytes = Bytes({0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF, 0xA5, 0xC6, 0xCA, 0xA3,
                            0xD1, 0xD3, 0x8C, 0x8F, 0xAF, ' ',  0x80, ' ',  '2',  '5',  0xB0, 'C'});
  EXPECT_EQ(Utf8ToCp1250(text), bytes);
  EXPECT_EQ(Cp1250ToUtf8(bytes), text);
  EXPECT_EQ(Cp1250ToUtf8(Bytes({0x84, 0x94, 0x96, 0xA0, 0xFF})), "„”–\u00A0˙");
}

TEST(Cp1250, CharactersOutsideTheCodePageAreRefusedNotReplaced) {
  EXPECT_EQ(Utf8ToCp1250("mañana"), std::nullopt);
  EXPECT_EQ(Utf8ToCp1250("ÿ"), std::nullopt);
  EXPECT_EQ(Utf8ToCp1250("温度"), std::nullopt);
  EXPECT_EQ(Utf8ToCp1250("ok 😀"), std::nullopt);
  EXPECT_EQ(Utf8ToCp1250(""), std::vector<uint8_t>{});
}

TEST(Cp1250, MalformedUtf8IsRefused) {
  for (const char* bad :
       {"\xC5", "a\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\xC5z"}) {
    EXPECT_EQ(Utf8ToCp1250(bad), std::nullopt) << bad;
  }
}

TEST(Cp1250, LossyConversionMarksWhatItCannotHoldWithQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1250Lossy("ó ñ 温"), Bytes({0xF3, ' ', '?', ' ', '?'}));
  EXPECT_EQ(Utf8ToCp1250Lossy("a\xC5"), Bytes({'a', '?'}));
  EXPECT_EQ(Utf8ToCp1250Lossy("ł\xFFł"), Bytes({0xB3, '?', 0xB3}));
}

}  // namespace
}  // namespace velutron

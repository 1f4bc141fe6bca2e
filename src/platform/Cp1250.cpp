#include "platform/Cp1250.h"

#include <algorithm>
#include <array>
#include <utility>

namespace velutron {
namespace {

// Unicode code points of the bytes 0x80..0xFF; below 0x80 a byte is its own code point.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

using ReverseTable = std::array<std::pair<char16_t, uint8_t>, 128>;

constexpr ReverseTable MakeReverseTable() {
  ReverseTable table{};
  for (size_t i = 0; i < kHighHalf.size(); ++i) {
    table[i] = {kHighHalf[i], static_cast<uint8_t>(0x80 + i)};
  }
  std::sort(table.begin(), table.end());
  return table;
}

constexpr ReverseTable kReverse = MakeReverseTable();

std::optional<uint8_t> EncodeCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<uint8_t>(cp);
  if (cp > 0xFFFF) return std::nullopt;
  auto key = static_cast<char16_t>(cp);
  auto it = std::lower_bound(kReverse.begin(), kReverse.end(), key,
                             [](const auto& entry, char16_t k) { return entry.first < k; });
  if (it == kReverse.end() || it->first != key) return std::nullopt;
  return it->second;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `pos` and advances past it. Rejects truncated sequences, stray
// continuation bytes, overlong forms, surrogates and code points above U+10FFFF; on a rejection `pos`
// moves past the first byte only, so a lenient caller can resynchronise.
std::optional<char32_t> NextCodePoint(std::string_view text, size_t& pos) {
  auto lead = static_cast<uint8_t>(text[pos++]);
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < static_cast<size_t>(extra)) return std::nullopt;
  for (int i = 0; i < extra; ++i) {
    auto next = static_cast<uint8_t>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  pos += extra;
  return cp;
}

}  // namespace

std::string Cp1250ToUtf8(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kHighHalf[b - 0x80]});
  }
  return out;
}

std::optional<std::vector<uint8_t>> Utf8ToCp1250(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    auto cp = NextCodePoint(text, pos);
    if (!cp) return std::nullopt;
    auto byte = EncodeCodePoint(*cp);
    if (!byte) return std::nullopt;
    out.push_back(*byte);
  }
  return out;
}

std::vector<uint8_t> Utf8ToCp1250Lossy(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    auto cp = NextCodePoint(text, pos);
    auto byte = cp ? EncodeCodePoint(*cp) : std::nullopt;
    out.push_back(byte.value_or(static_cast<uint8_t>('?')));
  }
  return out;
}

std::vector<TypedChar> SplitTypedText(std::string_view text) {
  std::vector<TypedChar> out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    auto cp = NextCodePoint(text, pos);
    out.push_back({text.substr(start, pos - start), cp ? EncodeCodePoint(*cp) : std::nullopt});
  }
  return out;
}

}  // namespace velutron

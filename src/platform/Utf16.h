#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

namespace velutron {

// The program's text is UTF-8; the Windows API takes and gives UTF-16. A malformed sequence becomes
// U+FFFD rather than failing.
std::wstring Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::wstring_view text);

}  // namespace velutron

#endif

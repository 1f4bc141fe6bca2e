#pragma once

#include <QString>
#include <string_view>

namespace velutron {

// A text as the windows show it: UTF-8 up to its first zero byte. The logger's texts may hold one (an
// image can put anything there), and the original windows took every text as zero-terminated.
inline QString ShownText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace velutron

#include "platform/Utf8Path.h"

#ifdef _WIN32
#include "platform/Utf16.h"
#endif

namespace velutron {

#ifdef _WIN32

std::filesystem::path PathFromUtf8(std::string_view name) { return Utf16FromUtf8(name); }
std::string Utf8FromPath(const std::filesystem::path& path) { return Utf8FromUtf16(path.native()); }

#else

std::filesystem::path PathFromUtf8(std::string_view name) { return std::string(name); }
std::string Utf8FromPath(const std::filesystem::path& path) { return path.native(); }

#endif

}  // namespace velutron

#pragma once

// Conversions between the UTF-8 names the core uses and Windows' wide ones.
#include <windows.h>
#undef CopyFile  // a macro of <windows.h>; the name belongs to FileSystem here

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

inline std::wstring Widen(std::string_view text) {
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), int(wide.size()));
  return wide;
}

inline std::string Narrow(std::wstring_view wide) {
  std::string text(WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(), int(text.size()), nullptr, nullptr);
  return text;
}

// Only for a name that is valid UTF-16: Windows allows unpaired surrogates,
// which have no UTF-8 form.
inline std::optional<std::string> NarrowExactly(std::wstring_view wide) {
  if (!wide.empty() && WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), int(wide.size()), nullptr,
                                           0, nullptr, nullptr) == 0)
    return std::nullopt;
  return Narrow(wide);
}

// True when two names are one to Windows: the same but for letter case.
inline bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace velmora

#include "platform/name_case.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>

#include "platform/ascii.h"

namespace velmora {
namespace {

struct UpperCase {
  char16_t unit;
  char16_t upper;
};

constexpr UpperCase kUpperCase[] = {
#include "platform/upcase_table.inc"
};

char32_t UpperUnit(char32_t unit) {
  const auto found = std::lower_bound(std::begin(kUpperCase), std::end(kUpperCase), unit,
                                      [](const UpperCase& entry, char32_t u) { return entry.unit < u; });
  return found != std::end(kUpperCase) && found->unit == unit ? found->upper : unit;
}

// The code point at `at`, moving past it; empty for a sequence that is not
// well-formed UTF-8 (overlong, a surrogate, beyond U+10FFFF, cut short).
std::optional<char32_t> Decode(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return std::uint8_t(text[i]); };
  const std::uint8_t lead = byte(at);
  const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) return std::nullopt;
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  at += length;
  return code;
}

void Encode(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// Asked several times for every file: eight bytes at a time.
bool IsAscii(std::string_view text) {
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    if (word & 0x8080808080808080u) return false;
  }
  return std::all_of(text.begin() + at, text.end(), [](char c) { return std::uint8_t(c) < 0x80; });
}

}  // namespace

void ToUpperName(std::string_view name, std::string& upper) {
  upper.clear();
  if (IsAscii(name)) {
    upper.append(name);
    for (char& c : upper) c = ToUpperAscii(c);
    return;
  }
  upper.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const std::optional<char32_t> code = Decode(name, at);
    if (!code) {
      upper = ToUpperAscii(name);
      return;
    }
    // Beyond U+FFFF a code point is two surrogate units, which map to themselves.
    Encode(*code <= 0xFFFF ? UpperUnit(*code) : *code, upper);
  }
}

std::string ToUpperName(std::string_view name) {
  std::string upper;
  ToUpperName(name, upper);
  return upper;
}

bool IsAsciiName(std::string_view name) { return IsAscii(name); }

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) return EqualsIgnoringCase(a, b);  // no copies for the usual names
  return ToUpperName(a) == ToUpperName(b);
}

}  // namespace velmora

#pragma once

#include <string>
#include <string_view>

namespace velmora {

// File names ignoring letter case as Windows compares them on NTFS: each
// UTF-16 code unit of a UTF-8 name mapped to its simple uppercase
// ("Zürich" is "ZÜRICH"). A name that is not valid UTF-8 has only a to z
// folded, byte by byte.
std::string ToUpperName(std::string_view name);
// The same into `upper`, whose storage is used again.
void ToUpperName(std::string_view name, std::string& upper);
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);
// True when every byte of the name is ASCII: then letter case is a to z only.
bool IsAsciiName(std::string_view name);

}  // namespace velmora

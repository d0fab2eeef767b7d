#pragma once

// The player's words: every message comes from the catalog (app/po), in the
// system's user-interface language, English where the catalog has none.
// A message names its varying parts as {placeholders}, filled by Fill, so
// that a translation may put them where its language wants them.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

// The translation of an English message.
std::string Tr(const char* english);
// The form of a message for `count`, by the language's plural rules.
std::string TrN(const char* singular, const char* plural, std::uint64_t count);
// A message whose English alone is ambiguous, told apart by `context`.
std::string TrC(const char* context, const char* english);

// `text` with each {name} replaced by its value; other braces kept.
std::string Fill(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string_view>> values);

// Looks up translations from now on. Linux: the compiled catalogs beside
// the program (locale/), else in the share/locale folder beside its bin/;
// the language as the desktop sets LANGUAGE, LC_ALL, LC_MESSAGES and LANG.
// Windows: the tables built into the program, in the user's preferred UI
// languages. Until then, and in tests, messages stay English.
void UseCatalog(const std::string& program_folder);

// The language messages are told in ("de", "pt_BR", ...; "en" for none).
std::string CatalogLanguage();

}  // namespace velmora

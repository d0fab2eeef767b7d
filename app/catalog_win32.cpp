// Translations from the tables built into the program, in the user's
// preferred UI languages.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/catalog.h"
#include "app/catalog_table.h"
#include "platform/win32/text.h"

namespace velmora {
namespace {

const CatalogTable* table = nullptr;

// "pt-BR" as the catalog spells it, "pt_BR".
std::string CatalogSpelling(std::wstring name) {
  std::replace(name.begin(), name.end(), L'-', L'_');
  return Narrow(name);
}

// The user's UI languages, most preferred first (Windows Vista and later;
// before, the one UI language).
std::vector<std::string> PreferredLanguages() {
  using Function = BOOL(WINAPI*)(DWORD, PULONG, PZZWSTR, PULONG);
  const auto preferred = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetUserPreferredUILanguages")));
  std::vector<std::string> languages;
  ULONG count = 0, size = 0;
  if (preferred && preferred(MUI_LANGUAGE_NAME, &count, nullptr, &size) && size > 0) {
    std::wstring names(size, L'\0');
    if (preferred(MUI_LANGUAGE_NAME, &count, names.data(), &size))
      for (const wchar_t* name = names.c_str(); *name; name += std::wcslen(name) + 1)
        languages.push_back(CatalogSpelling(name));
  }
  if (languages.empty()) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    if (GetLocaleInfoW(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), LOCALE_SISO639LANGNAME, name,
                       LOCALE_NAME_MAX_LENGTH) > 0)
      languages.push_back(CatalogSpelling(name));
  }
  return languages;
}

// The table for a language: its own ("pt_BR"), else the language's
// ("de" for "de_AT"), else another country's of the language.
const CatalogTable* TableFor(const std::string& language) {
  const std::string bare = language.substr(0, language.find('_'));
  const CatalogTable* found = nullptr;
  for (std::size_t i = 0; i < kCatalogTableCount; ++i) {
    const std::string name = kCatalogTables[i].language;
    if (name == language) return &kCatalogTables[i];
    if (name == bare) found = &kCatalogTables[i];
    else if (!found && name.substr(0, name.find('_')) == bare) found = &kCatalogTables[i];
  }
  return found;
}

// The forms of a key's translation; null where the table has none.
const char* FormsOf(const std::string& key) {
  if (!table) return nullptr;
  const CatalogEntry* end = table->entries + table->count;
  const CatalogEntry* at = std::lower_bound(table->entries, end, key, [](const CatalogEntry& entry, const std::string& k) {
    return std::strcmp(entry.key, k.c_str()) < 0;
  });
  return at != end && key == at->key && *at->forms ? at->forms : nullptr;
}

const char* NthForm(const char* forms, unsigned long n) {
  while (n-- > 0 && *forms) forms += std::strlen(forms) + 1;
  return forms;
}

}  // namespace

std::string Tr(const char* english) {
  const char* forms = FormsOf(english);
  return forms ? forms : english;
}

std::string TrN(const char* singular, const char* plural, std::uint64_t count) {
  const char* forms = FormsOf(singular);
  const unsigned long n = count > 0xFFFFFFFFu ? 1000000u + count % 1000000u : static_cast<unsigned long>(count);
  if (!forms) return count == 1 ? singular : plural;
  const char* form = NthForm(forms, table->plural(n));
  return *form ? form : forms;
}

std::string TrC(const char* context, const char* english) {
  const char* forms = FormsOf(std::string(context) + '\004' + english);
  return forms ? forms : english;
}

void UseCatalog(const std::string&) {
  for (const std::string& language : PreferredLanguages())
    if ((table = TableFor(language)) != nullptr || language.starts_with("en")) return;
}

std::string CatalogLanguage() { return table ? table->language : "en"; }

}  // namespace velmora

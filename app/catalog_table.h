#pragma once

// The catalog's translations as tables built into velmora.exe, generated
// from app/po by tools/make_catalog_table.py.
#include <cstddef>

namespace velmora {

struct CatalogEntry {
  const char* key;    // the English message; with a context, "context\4message"
  const char* forms;  // its translation, plural forms one after another, each ended by '\0'
};

struct CatalogTable {
  const char* language;                    // "de", "pt_BR", ...
  unsigned long (*plural)(unsigned long);  // which form a count takes
  const CatalogEntry* entries;             // sorted by key, bytewise
  std::size_t count;
};

extern const CatalogTable kCatalogTables[];
extern const std::size_t kCatalogTableCount;

}  // namespace velmora

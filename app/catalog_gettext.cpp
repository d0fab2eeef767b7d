// Translations through the C library's gettext, from the .mo files the
// build compiles from app/po.
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "app/catalog.h"

namespace velmora {
namespace {

constexpr const char* kDomain = "velmora";
bool in_use = false;

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string Tr(const char* english) { return in_use ? dgettext(kDomain, english) : english; }

std::string TrN(const char* singular, const char* plural, std::uint64_t count) {
  if (in_use) return dngettext(kDomain, singular, plural, static_cast<unsigned long>(count));
  return count == 1 ? singular : plural;
}

std::string TrC(const char* context, const char* english) {
  if (!in_use) return english;
  // As gettext's pgettext: the context and the message, joined by EOT.
  const std::string key = std::string(context) + '\004' + english;
  const char* found = dgettext(kDomain, key.c_str());
  return found == key.c_str() || std::strcmp(found, key.c_str()) == 0 ? english : found;
}

void UseCatalog(const std::string& program_folder) {
  std::string folder = program_folder + "/locale";
  if (!IsFolder(folder)) folder = program_folder + "/../share/locale";
  if (!IsFolder(folder)) return;
  // The C library heeds LANGUAGE only where messages are not in the "C"
  // locale; a desktop that sets LANGUAGE alone still means it.
  const char* messages = setlocale(LC_MESSAGES, nullptr);
  const char* language = std::getenv("LANGUAGE");
  if (language && *language && messages && (std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0))
    setlocale(LC_MESSAGES, "C.UTF-8");
  bindtextdomain(kDomain, folder.c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
  in_use = true;
}

std::string CatalogLanguage() {
  // The catalog's own header, the translation of the empty message, names
  // the language it was found in.
  static const char* const kHeader = "";
  const std::string header = in_use ? dgettext(kDomain, kHeader) : "";
  const std::size_t at = header.find("Language: ");
  if (at == std::string::npos) return "en";
  const std::size_t from = at + 10;
  return header.substr(from, header.find('\n', from) - from);
}

}  // namespace velmora

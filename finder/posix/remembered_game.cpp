#include <QSettings>

#include "finder/remembered_game.h"

namespace velmora {
namespace {

constexpr const char* kKey = "gameFolder";
constexpr const char* kPrefixKey = "winePrefix";

}  // namespace

// QSettings' own place for the user: $XDG_CONFIG_HOME/velmora/velmora.conf.
std::string RememberedGameFolder() { return QSettings("velmora", "velmora").value(kKey).toString().toStdString(); }

void RememberGameFolder(const std::string& folder, const std::string& wine_prefix) {
  QSettings settings("velmora", "velmora");
  settings.setValue(kKey, QString::fromStdString(folder));
  if (wine_prefix.empty()) settings.remove(kPrefixKey);
  else settings.setValue(kPrefixKey, QString::fromStdString(wine_prefix));
}

void ForgetGameFolder() {
  QSettings settings("velmora", "velmora");
  settings.remove(kKey);
  settings.remove(kPrefixKey);
}

std::string RememberedWinePrefix() {
  return QSettings("velmora", "velmora").value(kPrefixKey).toString().toStdString();
}

}  // namespace velmora

#include <QSettings>

#include "app/remembered_game.h"

namespace velmora {
namespace {

constexpr const char* kKey = "gameFolder";

}  // namespace

// QSettings' own place for the user: $XDG_CONFIG_HOME/velmora/velmora.conf.
std::string RememberedGameFolder() { return QSettings("velmora", "velmora").value(kKey).toString().toStdString(); }

void RememberGameFolder(const std::string& folder) {
  QSettings("velmora", "velmora").setValue(kKey, QString::fromStdString(folder));
}

void ForgetGameFolder() { QSettings("velmora", "velmora").remove(kKey); }

}  // namespace velmora

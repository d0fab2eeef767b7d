#include "app/launcher_entry_qt.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace velmora {
namespace {

// Who the signal speaks for: the program's desktop entry.
constexpr char kApplication[] = "application://velmora.desktop";

}  // namespace

void LauncherEntry::Show(const TaskProgress& progress) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/velmora"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  // A dock has no "amount unknown": the bar waits for its first fraction.
  const bool visible = progress.state == TaskProgress::State::kPart;
  QVariantMap properties{{QStringLiteral("progress-visible"), visible},
                         {QStringLiteral("urgent"), progress.state == TaskProgress::State::kError}};
  if (visible) properties.insert(QStringLiteral("progress"), progress.fraction);
  update << QString::fromLatin1(kApplication) << properties;
  bus.send(update);
}

}  // namespace velmora

#pragma once

#include <QIcon>

namespace velmora {

// The program's icon in each of its sizes.
inline QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 72}) icon.addFile(QString(":/icon-%1.png").arg(size));
  return icon;
}

}  // namespace velmora

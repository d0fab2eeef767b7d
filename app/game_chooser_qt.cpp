#include "app/game_chooser_qt.h"

#include <QAbstractItemView>
#include <QHash>
#include <QSplitter>
#include <QStyledItemDelegate>

#include <algorithm>

#include "app/notices.h"
#include "finder/game_chooser.h"

namespace velmora {
namespace {

// The side bar's own model names each place by its folder's name alone and
// renews that name whenever the folder changes; the names of the installs
// are given where a row is drawn instead.
class InstallNames : public QStyledItemDelegate {
 public:
  InstallNames(QHash<QString, QString> names, QObject* parent)
      : QStyledItemDelegate(parent), names_(std::move(names)) {}

  QString NameOf(const QModelIndex& index) const {
    // The side bar keeps each place's address in the role after Qt::UserRole.
    const QString path = index.data(Qt::UserRole + 1).toUrl().toLocalFile();
    return names_.value(path, index.data().toString());
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = NameOf(index);
  }

 private:
  QHash<QString, QString> names_;
};

QAbstractItemView* Sidebar(QFileDialog& chooser) { return chooser.findChild<QAbstractItemView*>("sidebar"); }

}  // namespace

std::unique_ptr<QFileDialog> MakeGameChooser(const QString& start, const std::vector<FoundInstall>& found) {
  auto chooser = std::make_unique<QFileDialog>(nullptr, QString::fromStdString(ChooserTitle()), start);
  chooser->setFileMode(QFileDialog::Directory);
  chooser->setOption(QFileDialog::ShowDirsOnly);
  // The side bar and its names are the dialog's own: a desktop's dialog
  // would drop them.
  chooser->setOption(QFileDialog::DontUseNativeDialog);
  chooser->setFilter(chooser->filter() | QDir::Hidden);
  QList<QUrl> places = {QUrl::fromLocalFile(QDir::homePath())};
  QHash<QString, QString> names;
  for (const FoundInstall& install : found) {
    const QString path = QDir::cleanPath(QString::fromStdString(install.folder));
    places.push_back(QUrl::fromLocalFile(path));
    names.insert(path, QString::fromStdString(install.label));
  }
  chooser->setSidebarUrls(places);
  QAbstractItemView* sidebar = Sidebar(*chooser);
  auto* splitter = chooser->findChild<QSplitter*>("splitter");
  if (!sidebar || !splitter) return chooser;
  sidebar->setItemDelegate(new InstallNames(names, sidebar));
  // Wide enough for the longest name, as far as a third of the dialog.
  int widest = 0;
  for (const QString& name : names) widest = std::max(widest, sidebar->fontMetrics().horizontalAdvance(name));
  chooser->resize(std::max(chooser->width(), 900), chooser->height());
  const int side = std::min(widest + sidebar->iconSize().width() + 64, chooser->width() / 3);
  splitter->setSizes({std::max(side, splitter->sizes().value(0)), chooser->width() - side});
  return chooser;
}

QString SidebarName(QFileDialog& chooser, int row) {
  QAbstractItemView* sidebar = Sidebar(chooser);
  if (!sidebar || row >= sidebar->model()->rowCount()) return {};
  const QModelIndex index = sidebar->model()->index(row, 0);
  const auto* names = dynamic_cast<const InstallNames*>(sidebar->itemDelegate());
  return names ? names->NameOf(index) : index.data().toString();
}

}  // namespace velmora

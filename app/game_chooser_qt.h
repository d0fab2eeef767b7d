#pragma once

#include <QFileDialog>

#include <memory>
#include <vector>

#include "finder/install_search.h"

namespace velmora {

// The folder chooser for the game folder, opening at `start`: folders only,
// hidden ones shown (Wine's prefixes lie below ~/.wine and ~/.local), and
// each install found offered in its side bar under its own name.
std::unique_ptr<QFileDialog> MakeGameChooser(const QString& start, const std::vector<FoundInstall>& found);

// The name the side bar shows for its row `row`.
QString SidebarName(QFileDialog& chooser, int row);

}  // namespace velmora

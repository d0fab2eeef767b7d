#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/ini_rewriter.h"
#include "platform/testing/temp_game.h"

namespace velmora {

// A temporary game folder and the window's line list, for making Qorvane.ini.
class CreateConfigIniTest : public ::testing::Test {
 protected:
  void Run() { Run(temp_.game()); }
  void Run(const GameFolder& game) { CreateConfigIni(*OpenFileSystem(game), new_ini_); }
  std::vector<std::string> Names() { return temp_.Names(); }

  testing::TempGame temp_;
  StringList new_ini_;
};

}  // namespace velmora

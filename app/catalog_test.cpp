#include "app/catalog.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "app/notices.h"

namespace velmora {
namespace {

// The catalogs the build compiled lie beside this test, as beside the program.
void UseCatalogIn(const char* language) {
  setenv("LANGUAGE", language, 1);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
  setlocale(LC_ALL, "");
  UseCatalog(std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

std::string Copied(std::uint64_t count) {
  return TrN("Copy files copied {count} file.", "Copy files copied {count} files.", count);
}

TEST(CatalogTest, UntilACatalogIsInUseMessagesStayEnglish) {
  setenv("LANGUAGE", "de", 1);
  EXPECT_EQ(Tr("Files not copied:"), "Files not copied:");
  EXPECT_EQ(Copied(1), "Copy files copied {count} file.");
  EXPECT_EQ(CatalogLanguage(), "en");
}

TEST(CatalogTest, LanguageAloneChoosesTheCatalogEvenInTheCLocale) {
  UseCatalogIn("de");
  EXPECT_EQ(CatalogLanguage(), "de");
  EXPECT_EQ(Tr("Files not copied:"), "Nicht kopierte Dateien:");
  EXPECT_EQ(Counted(1234567), "1.234.567");
}

TEST(CatalogTest, PolishCountsTakeTheirThreeForms) {
  UseCatalogIn("pl");
  EXPECT_EQ(CatalogLanguage(), "pl");
  const std::string one = Copied(1), few = Copied(2), many = Copied(5);
  EXPECT_NE(one, few);
  EXPECT_NE(few, many);
  EXPECT_NE(one, many);
  for (const std::uint64_t n : {3, 4, 22, 103, 1002}) EXPECT_EQ(Copied(n), few) << n;
  for (const std::uint64_t n : {0, 11, 12, 14, 25, 112, 1000}) EXPECT_EQ(Copied(n), many) << n;
}

TEST(CatalogTest, ALanguageWithoutACatalogFallsBackToEnglish) {
  UseCatalogIn("sv:ja");
  EXPECT_EQ(Tr("Files not copied:"), "Files not copied:");
  EXPECT_EQ(CatalogLanguage(), "en");
}

}  // namespace
}  // namespace velmora

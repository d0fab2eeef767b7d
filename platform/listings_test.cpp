#include "platform/listings.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>

#include "platform/testing/temp_game.h"

namespace velmora {
namespace {

using testing::TempGame;

std::vector<std::string> Names(const FileListing& listing) {
  std::vector<std::string> names;
  for (std::size_t k = 0; k < listing.ListCount(); ++k) names.emplace_back(listing.List(k));
  return names;
}

// Hidden files are made the platform's way: a name beginning with "." here,
// the hidden or system attribute on Windows.
TEST(FileListingTest, ListsPlainAndReadOnlyFilesButNotHiddenFilesOrFolders) {
  TempGame temp;
  temp.Write("t/plain.gdb", "x");
  temp.Write("t/locked.mas", "x");
  std::filesystem::permissions(temp.At("t/locked.mas"), std::filesystem::perms::owner_read);
  temp.MakeFolder("t/sub");
#ifdef _WIN32
  temp.Write("t/hidden.dat", "x");
  temp.Write("t/system.dat", "x");
  SetFileAttributesW(temp.At("t/hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW(temp.At("t/system.dat").c_str(), FILE_ATTRIBUTE_SYSTEM);
#else
  temp.Write("t/.hidden", "x");
  std::filesystem::create_symlink("/etc/passwd", temp.At("t/link"));
#endif
  auto fs = OpenFileSystem(temp.game());
  FileListing listing(temp.game());
  EXPECT_EQ(listing.Path(), temp.game().Root());
  ASSERT_TRUE(listing.SetPath(*fs, temp.game().Join("t\\")));
  EXPECT_EQ(listing.Path(), temp.game().Join("t"));
  EXPECT_EQ(Names(listing), (std::vector<std::string>{"locked.mas", "plain.gdb"}));
}

#ifndef _WIN32
TEST(FileListingTest, LeavesOutNamesThatAreNotSinglePlainNames) {
  TempGame temp;
  temp.Write("t/a\\..\\..\\evil", "x");
  temp.Write("t/good", "x");
  auto fs = OpenFileSystem(temp.game());
  FileListing listing(temp.game());
  ASSERT_TRUE(listing.SetPath(*fs, temp.game().Join("t")));
  EXPECT_EQ(Names(listing), std::vector<std::string>{"good"});
}

#endif

TEST(FileListingTest, AFailedPathSetKeepsThePreviousFolderAndEntries) {
  TempGame temp;
  temp.Write("t/one", "x");
  auto fs = OpenFileSystem(temp.game());
  FileListing listing(temp.game());
  ASSERT_TRUE(listing.SetPath(*fs, temp.game().Join("t")));
  EXPECT_FALSE(listing.SetPath(*fs, temp.game().Join("missing")));
  EXPECT_FALSE(listing.SetPath(*fs, "/elsewhere"));
  EXPECT_EQ(listing.Path(), temp.game().Join("t"));
  EXPECT_EQ(Names(listing), std::vector<std::string>{"one"});
}

TEST(FolderListingTest, GivesTheFolderAtMinusOneThenSubFoldersThenEmpty) {
  TempGame temp;
  temp.MakeFolder("season02/tracks/Monaco/deeper");
  temp.MakeFolder("season02/tracks/Brazil");
#ifndef _WIN32
  temp.MakeFolder("season02/tracks/.git");  // hidden
#endif
  temp.Write("season02/tracks/file", "x");
  auto fs = OpenFileSystem(temp.game());
  FolderListing listing(temp.game());
  ASSERT_TRUE(listing.SetPath(*fs, temp.game().Join("Season02\\TRACKS\\")));
  const std::string tracks = temp.game().Join("Season02\\TRACKS");
  EXPECT_EQ(listing.List(-1), tracks);
  EXPECT_EQ(listing.List(0), tracks + "\\Brazil");
  EXPECT_EQ(listing.List(1), tracks + "\\Monaco");
  EXPECT_EQ(listing.List(2), "");
}

TEST(FolderListingTest, AFolderWithoutSubFoldersHasAnEmptyFirstEntry) {
  TempGame temp;
  temp.Write("t/file", "x");
  auto fs = OpenFileSystem(temp.game());
  FolderListing listing(temp.game());
  ASSERT_TRUE(listing.SetPath(*fs, temp.game().Join("t")));
  EXPECT_EQ(listing.List(0), "");
  EXPECT_EQ(listing.List(-1), temp.game().Join("t"));
}

}  // namespace
}  // namespace velmora

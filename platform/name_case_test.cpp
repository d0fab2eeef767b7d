#include "platform/name_case.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(NameCaseTest, LettersBeyondAToZFoldAsOnNtfs) {
  EXPECT_EQ(ToUpperName("Zürich"), "ZÜRICH");
  EXPECT_EQ(ToUpperName("évian.gdb"), "ÉVIAN.GDB");
  EXPECT_EQ(ToUpperName("σς"), "ΣΣ");
  EXPECT_EQ(ToUpperName("ǆ"), "Ǆ");  // a digraph's own simple uppercase
  EXPECT_EQ(ToUpperName("ß"), "ß");  // no single-letter uppercase: unchanged
  EXPECT_EQ(ToUpperName("𐐨"), "𐐨");  // beyond U+FFFF: two code units, each its own
  EXPECT_TRUE(NamesEqualIgnoringCase("Zürich", "ZÜRICH"));
  EXPECT_TRUE(NamesEqualIgnoringCase("monaco.mas", "MONACO.MAS"));
  EXPECT_FALSE(NamesEqualIgnoringCase("Zürich", "Zurich"));
}

TEST(NameCaseTest, NamesThatAreNotUtf8FoldOnlyAToZByteForByte) {
  EXPECT_EQ(ToUpperName("ab\xFF" "cd"), "AB\xFF" "CD");
  EXPECT_EQ(ToUpperName("\xC3\xBC\xC3"), "\xC3\xBC\xC3");  // cut short: ü stays ü
  EXPECT_EQ(ToUpperName("\xC0\xAF" "a"), "\xC0\xAF" "A");  // overlong
  EXPECT_EQ(ToUpperName("\xED\xA0\x80" "a"), "\xED\xA0\x80" "A");  // a surrogate
  EXPECT_FALSE(NamesEqualIgnoringCase("\xFC", "\xDC"));  // Latin-1 ü and Ü: bytes, not letters
}

}  // namespace
}  // namespace velmora

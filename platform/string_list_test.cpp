#include "platform/string_list.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

TEST(StringListTest, KeepsInsertionOrderAndDuplicates) {
  StringList list;
  list.AddItem("b");
  list.AddItem("a");
  list.AddItem("b");
  list.AddItem("");
  ASSERT_EQ(list.ListCount(), 4u);
  EXPECT_EQ(list.List(0), "b");
  EXPECT_EQ(list.List(1), "a");
  EXPECT_EQ(list.List(2), "b");
  EXPECT_EQ(list.List(3), "");
}

TEST(StringListTest, ClearEmptiesAndAnEmptyListStaysEmpty) {
  StringList list;
  list.Clear();
  EXPECT_EQ(list.ListCount(), 0u);
  list.AddItem("x");
  list.Clear();
  EXPECT_EQ(list.ListCount(), 0u);
  list.AddItem("y");
  EXPECT_EQ(list.List(0), "y");
}

TEST(StringListTest, HoldsMoreThan32767Entries) {
  StringList list;
  for (int i = 0; i < 40000; ++i) list.AddItem(std::to_string(i));
  ASSERT_EQ(list.ListCount(), 40000u);
  EXPECT_EQ(list.List(32767), "32767");
  EXPECT_EQ(list.List(39999), "39999");
}

}  // namespace
}  // namespace velmora

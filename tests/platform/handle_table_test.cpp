#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/common/HandleTable.h"

namespace {

struct Thing {
  std::uintptr_t id = 0;
  bool dead = false;
};
struct ThingTag;
using HTHING = ThingTag*;
using Table = plat::soft::HandleTable<Thing, HTHING>;

TEST(HandleTable, GivesEachObjectItsOwnHandleThatFindsIt) {
  Table table(0x100);
  Thing* a = table.Add(std::make_unique<Thing>());
  Thing* b = table.Add(std::make_unique<Thing>());
  EXPECT_NE(Table::HandleOf(a), Table::HandleOf(b));
  EXPECT_EQ(a, table.Find(Table::HandleOf(a)));
  EXPECT_EQ(b, table.Find(Table::HandleOf(b)));
  EXPECT_EQ(nullptr, Table::HandleOf(nullptr));
}

TEST(HandleTable, FindsNothingForNullUnknownOrDeadHandles) {
  Table table(0x100);
  Thing* a = table.Add(std::make_unique<Thing>());
  const HTHING h = Table::HandleOf(a);
  EXPECT_EQ(nullptr, table.Find(nullptr));
  EXPECT_EQ(nullptr, table.Find(reinterpret_cast<HTHING>(std::uintptr_t{0x99})));
  a->dead = true;
  EXPECT_EQ(nullptr, table.Find(h));
  // A dead object keeps its handle: a new one never takes it over.
  Thing* b = table.Add(std::make_unique<Thing>());
  EXPECT_NE(h, Table::HandleOf(b));
  EXPECT_EQ(nullptr, table.Find(h));
}

TEST(HandleTable, IteratesEveryObjectOldestFirstDeadOnesIncluded) {
  Table table(0x100);
  Thing* a = table.Add(std::make_unique<Thing>());
  Thing* b = table.Add(std::make_unique<Thing>());
  a->dead = true;
  std::vector<Thing*> seen;
  for (const auto& entry : table) seen.push_back(entry.second.get());
  EXPECT_EQ((std::vector<Thing*>{a, b}), seen);
}

}  // namespace

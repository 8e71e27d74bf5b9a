#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Classes.h"
#include "core/PropTable.h"

namespace {

std::vector<std::string> g_log;

class TLogged : public TComponent {
  DS_CLASS_NAME(TLogged)
 public:
  explicit TLogged(TComponent* owner, const std::string& name) : TComponent(owner) { SetName(name); }
  ~TLogged() override { g_log.push_back("~" + Name()); }
  TComponent* ref = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove && c == ref) {
      g_log.push_back(Name() + " lost " + c->Name());
      ref = nullptr;
    }
  }
};

class ComponentsTest : public ::testing::Test {
 protected:
  ComponentsTest() { g_log.clear(); }
};

TEST_F(ComponentsTest, OwnerDestroysOwnedComponentsNewestFirst) {
  auto* owner = new TLogged(nullptr, "Owner");
  new TLogged(owner, "A");
  new TLogged(owner, "B");
  new TLogged(owner, "C");
  delete owner;
  EXPECT_EQ(g_log, (std::vector<std::string>{"~Owner", "~C", "~B", "~A"}));
}

TEST_F(ComponentsTest, SiblingHearsOfRemovalAndDropsItsReference) {
  TLogged owner(nullptr, "Owner");
  auto* a = new TLogged(&owner, "A");
  auto* b = new TLogged(&owner, "B");
  b->ref = a;
  delete a;
  EXPECT_EQ(b->ref, nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST_F(ComponentsTest, FreeNotificationReachesComponentOfAnotherOwner) {
  TLogged o1(nullptr, "O1"), o2(nullptr, "O2");
  auto* a = new TLogged(&o1, "A");
  auto* b = new TLogged(&o2, "B");
  b->ref = a;
  a->FreeNotification(b);
  delete a;
  EXPECT_EQ(b->ref, nullptr);
  // And the other way round no dangling entry is left behind.
  delete b;
}

TEST_F(ComponentsTest, DuplicateAndInvalidNamesAreRefused) {
  TLogged owner(nullptr, "Owner");
  new TLogged(&owner, "A");
  auto* b = new TLogged(&owner, "B");
  EXPECT_THROW(b->SetName("a"), EComponentError);
  EXPECT_THROW(b->SetName("1x"), EComponentError);
  EXPECT_EQ(b->Name(), "B");
  EXPECT_EQ(owner.FindComponent("a"), owner.Components(0));
}

TEST_F(ComponentsTest, ComponentsIndexOutOfRangeRaisesListError) {
  TLogged owner(nullptr, "Owner");
  try {
    owner.Components(0);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message, "List index out of bounds (0)");
  }
}

TEST_F(ComponentsTest, AssignBetweenUnrelatedClassesRaisesConvertError) {
  TLogged a(nullptr, "A");
  TCollection c([](TCollection* col) { return new TCollectionItem(col); });
  try {
    c.Assign(&a);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a TLogged to a TCollection");
  }
  try {
    a.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "Cannot assign a nil to a TLogged");
  }
}

class TNumberItem : public TCollectionItem {
  DS_CLASS_NAME(TNumberItem)
 public:
  explicit TNumberItem(TCollection* c) : TCollectionItem(c) {}
  void Assign(const TPersistent* src) override {
    if (auto* n = dynamic_cast<const TNumberItem*>(src)) {
      value = n->value;
      return;
    }
    TCollectionItem::Assign(src);
  }
  int value = 0;
};

TEST_F(ComponentsTest, CollectionAssignCopiesItemsAndIndexErrorsAreListErrors) {
  auto factory = [](TCollection* col) -> TCollectionItem* { return new TNumberItem(col); };
  TCollection a(factory), b(factory);
  static_cast<TNumberItem*>(a.Add())->value = 3;
  static_cast<TNumberItem*>(a.Add())->value = 4;
  b.Add();
  b.Assign(&a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(static_cast<TNumberItem*>(b.GetItem(1))->value, 4);
  EXPECT_EQ(b.GetItem(1)->Index(), 1);
  EXPECT_THROW(b.GetItem(2), EListError);
  delete b.GetItem(0);
  EXPECT_EQ(b.Count(), 1);
  EXPECT_EQ(b.GetItem(0)->Index(), 0);
}

}  // namespace

// The picture list's items: index access, names, derived sizes, pattern counts, assignment and the stored
// colour table — everything that needs no drawing surface.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/Classes.h"
#include "core/Consts.h"
#include "render/DXDraws.h"

namespace {

std::unique_ptr<TDIB> Picture(int w, int h) {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(w, h, 24);
  return d;
}

class ImageListItemsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitDIBUnit(); }
  TPictureCollectionItem* Add(int w, int h) {
    TPictureCollectionItem* it = list.Items().Add();
    if (w > 0) it->Picture().SetGraphic(Picture(w, h).get());
    return it;
  }
  TDXImageList list{nullptr};
};

}  // namespace

// ---- Index access ----

TEST_F(ImageListItemsTest, ItemsAreReachedByZeroBasedIndex) {
  TPictureCollectionItem* a = Add(4, 4);
  TPictureCollectionItem* b = Add(8, 8);
  EXPECT_EQ(list.Items().Count(), 2);
  EXPECT_EQ(list.Items().Items(0), a);
  EXPECT_EQ(list.Items().Items(1), b);
}

TEST_F(ImageListItemsTest, IndexOutsideTheItemsRaisesListError) {
  Add(4, 4);
  try {
    list.Items().Items(5);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Items().Items(-1), EListError);
}

TEST_F(ImageListItemsTest, NewItemIsTransparentWithBlackKeyAndNoPatternLayout) {
  TPictureCollectionItem* it = Add(0, 0);
  EXPECT_TRUE(it->Transparent());
  EXPECT_EQ(it->TransparentColor(), 0);
  EXPECT_EQ(it->PatternWidth(), 0);
  EXPECT_EQ(it->SkipWidth(), 0);
  EXPECT_FALSE(it->SystemMemory());
  EXPECT_FALSE(it->Initialized());
}

// ---- Names ----

TEST_F(ImageListItemsTest, ItemsAreFoundByNameWithoutRegardToCase) {
  TPictureCollectionItem* a = Add(4, 4);
  TPictureCollectionItem* b = Add(4, 4);
  a->SetName("backgr");
  b->SetName("Flake");
  EXPECT_EQ(list.Items().FindItem("BACKGR"), a);
  EXPECT_EQ(list.Items().IndexOf("flake"), 1);
  EXPECT_EQ(list.Items().IndexOf("none"), -1);
}

TEST_F(ImageListItemsTest, RenamingUpdatesTheNameIndex) {
  TPictureCollectionItem* a = Add(4, 4);
  a->SetName("old");
  a->SetName("new");
  EXPECT_EQ(list.Items().IndexOf("old"), -1);
  EXPECT_EQ(list.Items().IndexOf("NEW"), 0);
}

TEST_F(ImageListItemsTest, DeletedItemLeavesTheNameIndex) {
  Add(4, 4)->SetName("gone");
  Add(4, 4)->SetName("kept");
  list.Items().Delete(0);
  EXPECT_EQ(list.Items().IndexOf("gone"), -1);
  EXPECT_EQ(list.Items().IndexOf("kept"), 0);
}

TEST_F(ImageListItemsTest, DuplicateNamesFindTheLowestIndex) {
  Add(4, 4)->SetName("x");
  Add(4, 4)->SetName("X");
  EXPECT_EQ(list.Items().IndexOf("x"), 0);
  list.Items().Delete(0);
  EXPECT_EQ(list.Items().IndexOf("x"), 0);
}

// ---- Derived sizes ----

TEST_F(ImageListItemsTest, SizeIsThePicturesWhenNoPatternSizeIsSet) {
  TPictureCollectionItem* it = Add(21, 32);
  EXPECT_EQ(it->Width(), 21);
  EXPECT_EQ(it->Height(), 32);
}

TEST_F(ImageListItemsTest, EmptyPictureHasZeroSizeAndNoPatterns) {
  TPictureCollectionItem* it = Add(0, 0);
  EXPECT_EQ(it->Width(), 0);
  EXPECT_EQ(it->Height(), 0);
  EXPECT_EQ(it->PatternCount(), 0);
}

TEST_F(ImageListItemsTest, PatternSizeOverridesThePictureSize) {
  TPictureCollectionItem* it = Add(64, 32);
  it->SetPatternWidth(16);
  it->SetPatternHeight(8);
  EXPECT_EQ(it->Width(), 16);
  EXPECT_EQ(it->Height(), 8);
}

TEST_F(ImageListItemsTest, PatternCountBeforeSurfacesComesFromTheGrid) {
  TPictureCollectionItem* it = Add(64, 32);
  it->SetPatternWidth(16);
  it->SetPatternHeight(16);
  EXPECT_EQ(it->PatternCount(), 8);
  EXPECT_EQ(it->PatternWidth(), 16);
}

TEST_F(ImageListItemsTest, PatternCountAddsAColumnWhenTheRemainderIsOnePattern) {
  // 50 = 2 * (16 + 1) + 16: the last pattern needs no gap after it.
  TPictureCollectionItem* it = Add(50, 16);
  it->SetPatternWidth(16);
  it->SetSkipWidth(1);
  EXPECT_EQ(it->PatternCount(), 3);
}

TEST_F(ImageListItemsTest, PatternCountWithANonPositiveStepIsZero) {
  TPictureCollectionItem* it = Add(64, 32);
  it->SetPatternWidth(4);
  it->SetSkipWidth(-4);
  EXPECT_EQ(it->PatternCount(), 0);
}

// ---- Assignment ----

TEST_F(ImageListItemsTest, AssignCopiesLayoutTransparencyAndPictureButNotTheName) {
  TPictureCollectionItem* src = Add(12, 10);
  src->SetName("source");
  src->SetPatternWidth(4);
  src->SetPatternHeight(5);
  src->SetSkipWidth(1);
  src->SetSkipHeight(2);
  src->SetSystemMemory(true);
  src->SetTransparent(false);
  src->SetTransparentColor(clWhite);
  TPictureCollectionItem* dst = Add(0, 0);
  dst->SetName("target");
  dst->Assign(src);
  EXPECT_EQ(dst->Name(), "target");
  EXPECT_EQ(dst->PatternWidth(), 4);
  EXPECT_EQ(dst->PatternHeight(), 5);
  EXPECT_EQ(dst->SkipWidth(), 1);
  EXPECT_EQ(dst->SkipHeight(), 2);
  EXPECT_TRUE(dst->SystemMemory());
  EXPECT_FALSE(dst->Transparent());
  EXPECT_EQ(dst->TransparentColor(), clWhite);
  EXPECT_EQ(dst->Picture().Width(), 12);
  EXPECT_EQ(dst->Picture().Height(), 10);
}

TEST_F(ImageListItemsTest, AssigningTheCollectionCopiesEveryItem) {
  Add(5, 6);
  Add(7, 8);
  TDXImageList other{nullptr};
  other.SetItems(list.Items());
  ASSERT_EQ(other.Items().Count(), 2);
  EXPECT_EQ(other.Items().Items(1)->Width(), 7);
}

// ---- Stored colour table ----

TEST_F(ImageListItemsTest, ColorTableIsReadVerbatim) {
  std::vector<std::uint8_t> data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  TReadOnlyMemoryStream in(data.data(), data.size());
  list.Items().ReadColorTable(in);
  TMemoryStream out;
  list.Items().WriteColorTable(out);
  ASSERT_EQ(out.GetSize(), 1024);
  EXPECT_EQ(std::memcmp(out.Memory(), data.data(), 1024), 0);
}

TEST_F(ImageListItemsTest, ShortColorTableIsAReadError) {
  std::vector<std::uint8_t> data(1000, 1);
  TReadOnlyMemoryStream in(data.data(), data.size());
  EXPECT_THROW(list.Items().ReadColorTable(in), EReadError);
}

// ---- Without a drawing surface ----

TEST_F(ImageListItemsTest, InitializingWithoutAnInitializedSurfaceRaises) {
  Add(4, 4);
  try {
    list.Items().Initialize(nullptr);
    FAIL() << "no error";
  } catch (const EPictureCollectionError& e) {
    EXPECT_STREQ(e.what(), "TPictureCollection cannot be initialized");
  }
  EXPECT_FALSE(list.Items().Items(0)->Initialized());
}

TEST_F(ImageListItemsTest, DrawingAnUninitializedItemDoesNothing) {
  TPictureCollectionItem* it = Add(4, 4);
  it->Draw(nullptr, 0, 0, 0);
  it->StretchDraw(nullptr, Rect(0, 0, 4, 4), 0);
  it->Restore();
  EXPECT_FALSE(it->Initialized());
  EXPECT_EQ(it->SurfaceCount(), 0);
}

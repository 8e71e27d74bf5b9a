// Shapes in device contexts, and metafiles: building them from bytes (enhanced and Windows), refusing
// malformed ones, and playing them into a rectangle.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "gdi_test_util.h"

using namespace gditest;

namespace {

class GdiShapes : public GdiTest {};
class GdiMetafile : public GdiTest {};

// ---- shapes ----

struct Selected {
  Selected(soft::SoftGdi& g, HDC dc, HGDIOBJ o) : g_(g), dc_(dc), old_(g.SelectObject(dc, o)) {}
  ~Selected() { g_.SelectObject(dc_, old_); }
  soft::SoftGdi& g_;
  HDC dc_;
  HGDIOBJ old_;
};

TEST_F(GdiShapes, RectangleDrawsItsBorderWithThePenInsideTheRightAndBottomEdge) {
  Canvas32 c(g, 8, 8);
  HBRUSH br = g.CreateSolidBrush(RGB(0, 0, 255));
  {
    Selected s(g, c.dc(), Obj(br));
    g.Rectangle(c.dc(), 1, 1, 6, 5);
  }
  EXPECT_EQ(c.rgb(1, 1), 0u);  // pen: black, stock
  EXPECT_EQ(c.rgb(5, 4), 0u);
  EXPECT_EQ(c.rgb(2, 2), 0x0000FFu);
  EXPECT_EQ(c.rgb(4, 3), 0x0000FFu);
  c.Fill(0x777777);
  {
    Selected s(g, c.dc(), Obj(br));
    g.Rectangle(c.dc(), 1, 1, 6, 5);
  }
  EXPECT_EQ(c.rgb(6, 2), 0x777777u);
  EXPECT_EQ(c.rgb(2, 5), 0x777777u);
  g.DeleteObject(Obj(br));
}

TEST_F(GdiShapes, RectangleWithoutPenFillsOnePixelLess) {
  Canvas32 c(g, 8, 8);
  c.Fill(0x777777);
  Selected pen(g, c.dc(), g.GetStockObject(NULL_PEN));
  Selected brush(g, c.dc(), g.GetStockObject(BLACK_BRUSH));
  g.Rectangle(c.dc(), 1, 1, 5, 4);
  EXPECT_EQ(c.rgb(1, 1), 0u);
  EXPECT_EQ(c.rgb(3, 2), 0u);
  EXPECT_EQ(c.rgb(4, 2), 0x777777u);
  EXPECT_EQ(c.rgb(3, 3), 0x777777u);
}

TEST_F(GdiShapes, FillRectCoversLeftTopInclusiveRightBottomExclusive) {
  Canvas32 c(g, 6, 6);
  HBRUSH br = g.CreateSolidBrush(RGB(255, 255, 255));
  RECT r{1, 2, 4, 5};
  g.FillRect(c.dc(), &r, br);
  int count = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) count += c.rgb(x, y) == 0xFFFFFF;
  EXPECT_EQ(count, 9);
  EXPECT_EQ(c.rgb(1, 2), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(3, 4), 0xFFFFFFu);
  g.DeleteObject(Obj(br));
}

TEST_F(GdiShapes, PolygonFillsPixelsWhoseCentresLieInside) {
  Canvas32 c(g, 10, 10);
  Selected pen(g, c.dc(), g.GetStockObject(NULL_PEN));
  Selected brush(g, c.dc(), g.GetStockObject(WHITE_BRUSH));
  const POINT tri[3] = {{0, 0}, {8, 0}, {0, 8}};
  g.Polygon(c.dc(), tri, 3);
  EXPECT_EQ(c.rgb(0, 0), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(6, 0), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(3, 3), 0xFFFFFFu);  // centre (3.5, 3.5): x + y = 7 < 8
  EXPECT_EQ(c.rgb(4, 4), 0u);         // centre (4.5, 4.5) lies outside
  EXPECT_EQ(c.rgb(8, 0), 0u);
}

TEST_F(GdiShapes, PolyPolygonAlternateLeavesTheHoleOpenAndWindingFillsIt) {
  Canvas32 c(g, 10, 10);
  Selected pen(g, c.dc(), g.GetStockObject(NULL_PEN));
  Selected brush(g, c.dc(), g.GetStockObject(WHITE_BRUSH));
  const POINT pts[8] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, {3, 3}, {6, 3}, {6, 6}, {3, 6}};
  const int counts[2] = {4, 4};
  g.PolyPolygon(c.dc(), pts, counts, 2);
  EXPECT_EQ(c.rgb(1, 1), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(4, 4), 0u);
  g.SetPolyFillMode(c.dc(), WINDING);
  g.PolyPolygon(c.dc(), pts, counts, 2);
  EXPECT_EQ(c.rgb(4, 4), 0xFFFFFFu);
}

TEST_F(GdiShapes, PolylineLeavesOutItsLastPixel) {
  Canvas32 c(g, 6, 3);
  c.Fill(0xFFFFFF);
  const POINT pts[2] = {{0, 1}, {4, 1}};
  g.Polyline(c.dc(), pts, 2);
  EXPECT_EQ(c.rgb(0, 1), 0u);
  EXPECT_EQ(c.rgb(3, 1), 0u);
  EXPECT_EQ(c.rgb(4, 1), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(0, 0), 0xFFFFFFu);
}

TEST_F(GdiShapes, WidePenDrawsABandOfItsWidthCentredOnTheLine) {
  Canvas32 c(g, 30, 20);
  HPEN pen = g.CreatePen(PS_SOLID, 5, RGB(255, 255, 255));
  {
    Selected s(g, c.dc(), Obj(pen));
    const POINT pts[2] = {{5, 10}, {20, 10}};
    g.Polyline(c.dc(), pts, 2);
  }
  for (int y = 8; y <= 12; ++y) EXPECT_EQ(c.rgb(12, y), 0xFFFFFFu) << y;
  EXPECT_EQ(c.rgb(12, 7), 0u);
  EXPECT_EQ(c.rgb(12, 13), 0u);
  EXPECT_EQ(c.rgb(3, 10), 0xFFFFFFu);  // square end reaches half the width past the start
  EXPECT_EQ(c.rgb(2, 10), 0u);
  g.DeleteObject(Obj(pen));
}

TEST_F(GdiShapes, EllipseFillsItsCentreButNotTheBoxCorners) {
  Canvas32 c(g, 12, 12);
  Selected brush(g, c.dc(), g.GetStockObject(WHITE_BRUSH));
  g.Ellipse(c.dc(), 1, 1, 11, 11);
  EXPECT_EQ(c.rgb(6, 6), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(1, 1), 0u);
  EXPECT_EQ(c.rgb(10, 10), 0u);
  EXPECT_EQ(c.rgb(1, 6), 0u);  // the black pen on the left edge
  EXPECT_EQ(c.rgb(0, 6), 0u);
  EXPECT_EQ(c.rgb(11, 6), 0u);
}

TEST_F(GdiShapes, AnisotropicMappingScalesLogicalCoordinates) {
  Canvas32 c(g, 20, 20);
  g.SetMapMode(c.dc(), MM_ANISOTROPIC);
  g.SetWindowExtEx(c.dc(), 100, 100, nullptr);
  g.SetViewportExtEx(c.dc(), 10, 20, nullptr);
  g.SetWindowOrgEx(c.dc(), 50, 0, nullptr);
  HBRUSH br = g.CreateSolidBrush(RGB(255, 0, 0));
  RECT r{50, 0, 100, 50};  // device (0, 0) - (5, 10)
  g.FillRect(c.dc(), &r, br);
  EXPECT_EQ(c.rgb(4, 9), 0xFF0000u);
  EXPECT_EQ(c.rgb(5, 9), 0u);
  EXPECT_EQ(c.rgb(4, 10), 0u);
  g.DeleteObject(Obj(br));
}

TEST_F(GdiShapes, HugeCoordinatesAreClippedQuickly) {
  Canvas32 c(g, 8, 8);
  const POINT far[3] = {{-2000000000, -2000000000}, {2000000000, 5}, {3, 2000000000}};
  EXPECT_TRUE(g.Polygon(c.dc(), far, 3));
  EXPECT_TRUE(g.Polyline(c.dc(), far, 3));
  EXPECT_TRUE(g.Ellipse(c.dc(), -2000000000, -2000000000, 2000000000, 2000000000));
}

// ---- enhanced metafiles built here ----

// Records with a header whose frame is 100 x 100 reference pixels (1000 px = 254 mm).
class Emf {
 public:
  Emf() { bytes_.resize(sizeof(ENHMETAHEADER)); }
  Emf& Rec(DWORD type, std::initializer_list<DWORD> v) {
    Put(type);
    Put(DWORD(8 + 4 * v.size()));
    for (DWORD x : v) Put(x);
    ++records_;
    return *this;
  }
  Emf& Raw(const std::vector<BYTE>& r) {
    bytes_.insert(bytes_.end(), r.begin(), r.end());
    ++records_;
    return *this;
  }
  std::vector<BYTE> Build(WORD handles = 4) {
    Rec(14, {0, 16, 20});
    ENHMETAHEADER h{};
    h.iType = EMR_HEADER;
    h.nSize = sizeof h;
    h.rclBounds = {0, 0, 99, 99};
    h.rclFrame = {0, 0, 2540, 2540};
    h.dSignature = ENHMETA_SIGNATURE;
    h.nVersion = 0x10000;
    h.nBytes = DWORD(bytes_.size());
    h.nRecords = records_ + 1;
    h.nHandles = handles;
    h.szlDevice = {1000, 1000};
    h.szlMillimeters = {254, 254};
    std::vector<BYTE> out = bytes_;
    std::memcpy(out.data(), &h, sizeof h);
    return out;
  }

 private:
  void Put(DWORD v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(BYTE(v >> (8 * i)));
  }
  std::vector<BYTE> bytes_;
  DWORD records_ = 0;
};

constexpr DWORD kRectangle = 43, kEllipse = 42, kCreateBrush = 39, kSelect = 37, kDelete = 40,
                kPolygon16 = 86, kRestore = 34;

TEST_F(GdiMetafile, RectangleIsPlayedScaledFromTheFrameIntoTheTarget) {
  std::vector<BYTE> b = Emf()
                            .Rec(kCreateBrush, {1, BS_SOLID, RGB(255, 0, 0), 0})
                            .Rec(kSelect, {1})
                            .Rec(kSelect, {0x80000000u | NULL_PEN})
                            .Rec(kRectangle, {20, 20, 60, 60})
                            .Rec(kSelect, {0x80000000u | WHITE_BRUSH})
                            .Rec(kDelete, {1})
                            .Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  ASSERT_NE(mf, nullptr);
  Canvas32 c(g, 50, 50);
  c.Fill(0x0000FF);
  RECT target{0, 0, 50, 50};  // half size
  ASSERT_TRUE(g.PlayEnhMetaFile(c.dc(), mf, &target));
  EXPECT_EQ(c.rgb(10, 10), 0xFF0000u);
  EXPECT_EQ(c.rgb(28, 28), 0xFF0000u);
  EXPECT_EQ(c.rgb(9, 9), 0x0000FFu);
  EXPECT_EQ(c.rgb(29, 29), 0x0000FFu);
  EXPECT_EQ(c.rgb(30, 20), 0x0000FFu);
  g.DeleteEnhMetaFile(mf);
  EXPECT_EQ(g.LiveObjectCount(), 2u);  // the canvas only: the player freed its brush
}

TEST_F(GdiMetafile, PlaybackIntoAnOffsetRectangleMovesThePicture) {
  std::vector<BYTE> b = Emf()
                            .Rec(kSelect, {0x80000000u | NULL_PEN})
                            .Rec(kSelect, {0x80000000u | BLACK_BRUSH})
                            .Rec(kRectangle, {0, 0, 51, 51})
                            .Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  Canvas32 c(g, 60, 60);
  c.Fill(0xFFFFFF);
  RECT target{10, 20, 210, 220};  // twice the size, shifted
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  EXPECT_EQ(c.rgb(10, 20), 0u);
  EXPECT_EQ(c.rgb(9, 20), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(10, 19), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(59, 59), 0u);
  g.DeleteEnhMetaFile(mf);
}

TEST_F(GdiMetafile, EllipseAndPolygonArePlayedIntoAScaledRectangle) {
  std::vector<BYTE> b =
      Emf()
          .Rec(kSelect, {0x80000000u | NULL_PEN})
          .Rec(kSelect, {0x80000000u | BLACK_BRUSH})
          .Rec(kEllipse, {0, 0, 50, 50})
          // POLYGON16: bounds, 3 points packed as 16-bit pairs
          .Rec(kPolygon16, {0, 0, 0, 0, 3, (0u << 16) | 60u, (0u << 16) | 100u, (40u << 16) | 100u})
          .Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  ASSERT_NE(mf, nullptr);
  Canvas32 c(g, 200, 200);
  c.Fill(0xFFFFFF);
  RECT target{0, 0, 200, 200};
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  EXPECT_EQ(c.rgb(50, 50), 0u);          // ellipse centre
  EXPECT_EQ(c.rgb(3, 3), 0xFFFFFFu);     // ellipse box corner
  EXPECT_EQ(c.rgb(190, 10), 0u);         // inside the triangle (120,0)-(200,0)-(200,80)
  EXPECT_EQ(c.rgb(130, 60), 0xFFFFFFu);  // outside it
  g.DeleteEnhMetaFile(mf);
}

std::vector<BYTE> StretchDibRecord(LONG x, LONG y, LONG cx, LONG cy) {
  // 2 x 2 bottom-up 32-bit image: bottom row red, green; top row blue, white.
  std::vector<BYTE> r(80 + 40 + 16, 0);
  auto put = [&](std::size_t at, DWORD v) { std::memcpy(r.data() + at, &v, 4); };
  put(0, 81);
  put(4, DWORD(r.size()));
  put(24, DWORD(x));
  put(28, DWORD(y));
  put(40, 2);
  put(44, 2);
  put(48, 80);
  put(52, 40);
  put(56, 120);
  put(60, 16);
  put(64, DIB_RGB_COLORS);
  put(68, SRCCOPY);
  put(72, DWORD(cx));
  put(76, DWORD(cy));
  BITMAPINFOHEADER h{40, 2, 2, 1, 32, BI_RGB, 16, 0, 0, 0, 0};
  std::memcpy(r.data() + 80, &h, 40);
  const std::uint32_t px[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::memcpy(r.data() + 120, px, 16);
  return r;
}

TEST_F(GdiMetafile, StretchedDibRecordIsDrawnQuadrantByQuadrant) {
  std::vector<BYTE> b = Emf().Raw(StretchDibRecord(0, 0, 100, 100)).Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  Canvas32 c(g, 40, 40);
  RECT target{0, 0, 40, 40};
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  EXPECT_EQ(c.rgb(5, 5), 0x0000FFu);
  EXPECT_EQ(c.rgb(35, 5), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(5, 35), 0xFF0000u);
  EXPECT_EQ(c.rgb(35, 35), 0x00FF00u);
  g.DeleteEnhMetaFile(mf);
}

TEST_F(GdiMetafile, DibRecordWhoseBitsOverrunTheRecordIsSkipped) {
  std::vector<BYTE> r = StretchDibRecord(0, 0, 100, 100);
  const DWORD tooMany = 4096;
  std::memcpy(r.data() + 60, &tooMany, 4);
  std::vector<BYTE> b = Emf().Raw(r).Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  ASSERT_NE(mf, nullptr);
  Canvas32 c(g, 10, 10);
  RECT target{0, 0, 10, 10};
  EXPECT_TRUE(g.PlayEnhMetaFile(c.dc(), mf, &target));
  EXPECT_EQ(c.rgb(5, 5), 0u);
  g.DeleteEnhMetaFile(mf);
}

TEST_F(GdiMetafile, BadObjectIndicesAndUnbalancedRestoresAreIgnored) {
  std::vector<BYTE> b = Emf()
                            .Rec(kCreateBrush, {70000, BS_SOLID, 0, 0})
                            .Rec(kSelect, {3})
                            .Rec(kDelete, {0})
                            .Rec(kRestore, {DWORD(-5)})
                            .Rec(kSelect, {0x80000000u | 999})
                            .Rec(kRectangle, {0, 0, 10, 10})
                            .Build(2);
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  ASSERT_NE(mf, nullptr);
  Canvas32 c(g, 10, 10);
  const int before = g.SaveDC(c.dc());
  g.SetBkColor(c.dc(), RGB(1, 2, 3));
  RECT target{0, 0, 10, 10};
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  EXPECT_EQ(g.GetBkColor(c.dc()), RGB(1, 2, 3));  // the caller's state is back
  EXPECT_TRUE(g.RestoreDC(c.dc(), before));
  EXPECT_FALSE(g.RestoreDC(c.dc(), -1));
  g.DeleteEnhMetaFile(mf);
  EXPECT_EQ(g.LiveObjectCount(), 2u);
}

TEST_F(GdiMetafile, ObjectsReplacedOrDeletedWhileSelectedAreStillFreed) {
  std::vector<BYTE> b = Emf()
                            .Rec(kCreateBrush, {1, BS_SOLID, RGB(1, 1, 1), 0})
                            .Rec(kSelect, {1})
                            .Rec(kCreateBrush, {1, BS_SOLID, RGB(2, 2, 2), 0})  // same slot, old one selected
                            .Rec(kSelect, {1})
                            .Rec(33, {})  // SaveDC keeps the second brush in a saved state
                            .Rec(kDelete, {1})
                            .Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  Canvas32 c(g, 4, 4);
  const std::size_t before = g.LiveObjectCount();
  RECT target{0, 0, 4, 4};
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  g.DeleteEnhMetaFile(mf);
  EXPECT_EQ(g.LiveObjectCount(), before - 1);
}

TEST_F(GdiMetafile, InputsOnceFoundByFuzzingPlayWithoutLeaks) {
  Canvas32 c(g, 40, 30);
  const std::size_t before = g.LiveObjectCount();
  int files = 0;
  for (auto& e :
       std::filesystem::directory_iterator(std::string(DS_SOURCE_DIR) + "/fuzz/corpus/metafile_fuzz")) {
    std::vector<BYTE> b = ReadFile(e.path().string());
    const METAFILEPICT pict{MM_ANISOTROPIC, 1000, 800, nullptr};
    for (HENHMETAFILE mf : {g.SetEnhMetaFileBits(UINT(b.size()), b.data()),
                            g.SetWinMetaFileBits(UINT(b.size()), b.data(), nullptr, &pict)}) {
      if (!mf) continue;
      const RECT straight{0, 0, 39, 29}, mirrored{39, 29, -5, -3};
      g.PlayEnhMetaFile(c.dc(), mf, &straight);
      g.PlayEnhMetaFile(c.dc(), mf, &mirrored);
      g.DeleteEnhMetaFile(mf);
    }
    ++files;
  }
  EXPECT_GT(files, 0);
  EXPECT_EQ(g.LiveObjectCount(), before);
}

TEST_F(GdiMetafile, HeaderAndBytesAreHandedBack) {
  std::vector<BYTE> b = Emf().Rec(kRectangle, {0, 0, 1, 1}).Build();
  HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  ENHMETAHEADER h{};
  EXPECT_EQ(g.GetEnhMetaFileHeader(mf, sizeof h, &h), sizeof h);
  EXPECT_EQ(h.rclFrame.right, 2540);
  EXPECT_EQ(h.szlDevice.cx, 1000);
  std::vector<BYTE> back(g.GetEnhMetaFileBits(mf, 0, nullptr));
  EXPECT_EQ(g.GetEnhMetaFileBits(mf, UINT(back.size()), back.data()), b.size());
  EXPECT_EQ(back, b);
  g.DeleteEnhMetaFile(mf);
}

TEST_F(GdiMetafile, MalformedEnhancedMetafilesAreRefused) {
  const std::vector<BYTE> good = Emf().Rec(kRectangle, {0, 0, 1, 1}).Build();
  ASSERT_NE(g.SetEnhMetaFileBits(UINT(good.size()), good.data()), nullptr);
  auto mutate = [&](std::size_t at, DWORD v) {
    std::vector<BYTE> b = good;
    std::memcpy(b.data() + at, &v, 4);
    return g.SetEnhMetaFileBits(UINT(b.size()), b.data());
  };
  EXPECT_EQ(mutate(40, 0x12345678), nullptr);                  // signature
  EXPECT_EQ(mutate(0, 2), nullptr);                            // first record not a header
  EXPECT_EQ(mutate(4, 4000), nullptr);                         // header size past the end
  EXPECT_EQ(mutate(100 + 4, 0), nullptr);                      // record size 0
  EXPECT_EQ(mutate(100 + 4, 26), nullptr);                     // record size not a multiple of 4
  EXPECT_EQ(mutate(100 + 4, 0x7FFFFFF0), nullptr);             // record past the end
  EXPECT_EQ(g.SetEnhMetaFileBits(50, good.data()), nullptr);   // cut inside the header
  EXPECT_EQ(g.SetEnhMetaFileBits(110, good.data()), nullptr);  // cut inside a record
  EXPECT_EQ(g.SetEnhMetaFileBits(UINT(good.size()), nullptr), nullptr);
}

// ---- Windows metafiles ----

class Wmf {
 public:
  Wmf& Rec(WORD fn, std::initializer_list<WORD> params) {
    Put32(DWORD(3 + params.size()));
    Put16(fn);
    for (WORD p : params) Put16(p);
    return *this;
  }
  std::vector<BYTE> Build(bool placeable) {
    Rec(0, {});
    std::vector<BYTE> out;
    if (placeable) {
      PLACEABLEMETAHEADER p{PLACEABLE_METAFILE_KEY, 0, 0, 0, 100, 100, 96, 0, 0};
      const WORD* w = reinterpret_cast<const WORD*>(&p);
      for (int i = 0; i < 10; ++i) p.checksum ^= w[i];
      out.resize(sizeof p);
      std::memcpy(out.data(), &p, sizeof p);
    }
    METAHEADER h{1, 9, 0x300, DWORD((18 + body_.size()) / 2), 1, 8, 0};
    // Sized first and copied into, rather than inserted: GCC 12 at -O3 misreads the inserts as overreads.
    const std::size_t at = out.size();
    out.resize(at + sizeof h + body_.size());
    std::memcpy(out.data() + at, &h, sizeof h);
    std::copy(body_.begin(), body_.end(), out.begin() + std::ptrdiff_t(at + sizeof h));
    return out;
  }

 private:
  void Put16(WORD v) {
    body_.push_back(BYTE(v));
    body_.push_back(BYTE(v >> 8));
  }
  void Put32(DWORD v) {
    Put16(WORD(v));
    Put16(WORD(v >> 16));
  }
  std::vector<BYTE> body_;
};

TEST_F(GdiMetafile, WindowsMetafileIsConvertedAndPlayedIntoItsFrame) {
  // Window 0..100; a black brush, no pen, rectangle (50, 0) - (100, 50): the top-right quarter.
  std::vector<BYTE> w = Wmf()
                            .Rec(0x020B, {0, 0})
                            .Rec(0x020C, {100, 100})
                            .Rec(0x02FC, {0 /*BS_SOLID*/, 0, 0, 0})
                            .Rec(0x012D, {0})
                            .Rec(0x02FA, {PS_NULL, 0, 0, 0, 0})
                            .Rec(0x012D, {1})
                            .Rec(0x041B, {50, 100, 0, 50})
                            .Build(true);
  METAFILEPICT pict{MM_ANISOTROPIC, 2646, 2646, nullptr};  // 100 px at 96 dpi
  HENHMETAFILE mf = g.SetWinMetaFileBits(UINT(w.size() - 22), w.data() + 22, nullptr, &pict);
  ASSERT_NE(mf, nullptr);
  ENHMETAHEADER h{};
  g.GetEnhMetaFileHeader(mf, sizeof h, &h);
  EXPECT_EQ(h.rclFrame.right, 2646);
  Canvas32 c(g, 40, 40);
  c.Fill(0xFFFFFF);
  RECT target{0, 0, 40, 40};
  g.PlayEnhMetaFile(c.dc(), mf, &target);
  EXPECT_EQ(c.rgb(30, 5), 0u);
  EXPECT_EQ(c.rgb(5, 5), 0xFFFFFFu);
  EXPECT_EQ(c.rgb(30, 30), 0xFFFFFFu);
  g.DeleteEnhMetaFile(mf);
  // The placeable header may also be left in front.
  mf = g.SetWinMetaFileBits(UINT(w.size()), w.data(), nullptr, nullptr);
  ASSERT_NE(mf, nullptr);
  g.DeleteEnhMetaFile(mf);
}

TEST_F(GdiMetafile, MalformedWindowsMetafilesAreRefused) {
  std::vector<BYTE> w = Wmf().Rec(0x041B, {1, 1, 0, 0}).Build(false);
  ASSERT_NE(g.SetWinMetaFileBits(UINT(w.size()), w.data(), nullptr, nullptr), nullptr);
  std::vector<BYTE> badType = w;
  badType[0] = 7;
  EXPECT_EQ(g.SetWinMetaFileBits(UINT(badType.size()), badType.data(), nullptr, nullptr), nullptr);
  std::vector<BYTE> hugeRecord = w;
  hugeRecord[18 + 3] = 0x40;  // record size in words far past the end
  EXPECT_EQ(g.SetWinMetaFileBits(UINT(hugeRecord.size()), hugeRecord.data(), nullptr, nullptr), nullptr);
  std::vector<BYTE> zeroRecord = w;
  std::memset(zeroRecord.data() + 18, 0, 4);
  EXPECT_EQ(g.SetWinMetaFileBits(UINT(zeroRecord.size()), zeroRecord.data(), nullptr, nullptr), nullptr);
  EXPECT_EQ(g.SetWinMetaFileBits(10, w.data(), nullptr, nullptr), nullptr);
}

// ---- files from the corpora ----

std::vector<std::string> Files(const std::string& dir, const std::string& ext) {
  std::vector<std::string> out;
  if (!std::filesystem::is_directory(Corpus(dir))) return out;
  for (auto& e : std::filesystem::recursive_directory_iterator(Corpus(dir)))
    if (e.path().extension() == ext) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(GdiMetafile, RealEnhancedMetafilesLoadAndPlayWithoutLeaks) {
  Canvas32 c(g, 64, 48);
  const std::size_t base = g.LiveObjectCount();
  int played = 0;
  for (const std::string& f : Files("emf", ".emf")) {
    if (f.find("corrupt") != std::string::npos) continue;
    std::vector<BYTE> b = ReadFile(f);
    HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data());
    EXPECT_NE(mf, nullptr) << f;
    if (!mf) continue;
    RECT target{0, 0, 63, 47};
    EXPECT_TRUE(g.PlayEnhMetaFile(c.dc(), mf, &target)) << f;
    g.DeleteEnhMetaFile(mf);
    ++played;
  }
  EXPECT_GE(played, 30);
  EXPECT_EQ(g.LiveObjectCount(), base);
}

TEST_F(GdiMetafile, CorruptedEnhancedMetafilesAreRefusedOrPlaySafely) {
  for (const char* name :
       {"bad_signature", "header_size_huge", "no_eof_record", "record_size_huge", "record_size_unaligned",
        "record_size_zero", "trunc_after_header", "trunc_in_header", "trunc_mid_records"}) {
    std::vector<BYTE> b = ReadFile(Corpus(std::string("emf/derived-corrupt/") + name + ".emf"));
    EXPECT_EQ(g.SetEnhMetaFileBits(UINT(b.size()), b.data()), nullptr) << name;
  }
  Canvas32 c(g, 64, 48);
  for (const std::string& f : Files("emf/libemf2svg/emf-corrupted", ".emf")) {
    std::vector<BYTE> b = ReadFile(f);
    if (HENHMETAFILE mf = g.SetEnhMetaFileBits(UINT(b.size()), b.data())) {
      RECT target{0, 0, 64, 48};
      g.PlayEnhMetaFile(c.dc(), mf, &target);
      g.DeleteEnhMetaFile(mf);
    }
  }
}

TEST_F(GdiMetafile, RealWindowsMetafilesConvertAndPlay) {
  Canvas32 c(g, 64, 48);
  int played = 0;
  for (const std::string& f : Files("wmf", ".wmf")) {
    if (f.find("corrupt") != std::string::npos) continue;
    std::vector<BYTE> b = ReadFile(f);
    HENHMETAFILE mf = g.SetWinMetaFileBits(UINT(b.size()), b.data(), nullptr, nullptr);
    EXPECT_NE(mf, nullptr) << f;
    if (!mf) continue;
    RECT target{0, 0, 63, 47};
    EXPECT_TRUE(g.PlayEnhMetaFile(c.dc(), mf, &target));
    g.DeleteEnhMetaFile(mf);
    ++played;
  }
  EXPECT_GE(played, 15);
}

TEST_F(GdiMetafile, CorruptedWindowsMetafilesAreRefused) {
  for (const char* name : {"header_size_huge", "record_size_huge", "record_size_zero", "trunc_in_header",
                           "trunc_mid_records", "trunc_placeable_only"}) {
    std::vector<BYTE> b = ReadFile(Corpus(std::string("wmf/derived-corrupt/") + name + ".wmf"));
    EXPECT_EQ(g.SetWinMetaFileBits(UINT(b.size()), b.data(), nullptr, nullptr), nullptr) << name;
  }
}

}  // namespace

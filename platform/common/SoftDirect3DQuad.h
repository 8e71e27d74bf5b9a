// The soft Direct3D device's fast path for the renderer's quad: what it works out per quad placement, the
// cache that keeps it for the quads met recently (and the pixels of the last large opaque quad), and the
// vector kernels its spans run through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/common/SoftDirect3DRaster.h"
#include "platform/common/ZeroedBuffer.h"

namespace plat::soft::dd {

// The fast path's part of a triangle's setup: its edges and stage 0's planes.
struct QuadTriangle {
  Edge edges[3];
  Plane u, v;
  bool minify = false;
};

// A texel address pair along one axis: byte offsets of the two texels and the second's weight (0..255).
struct Tap {
  std::size_t off0, off1;
  int f;
};

// An inclusive range of texture columns.
struct ColumnRange {
  std::uint32_t low, high;
};

struct SpanColumns {
  std::vector<Tap> taps;
  std::vector<std::uint32_t> col0, col1;  // texture column of each tap pair
  std::vector<std::uint16_t> weights;     // per column and channel the pair (256 - f, f)
  bool filtered = false;
  bool contiguous = false;  // unfiltered and stepping one texel per pixel: a plain source run
  // The texture columns the taps reach, as few ranges: a column wrapped in from the far edge stays apart
  // from the body, so the vertical pass does not run across the padding between them.
  std::vector<ColumnRange> ranges;
  // Per column: whether it and the next three read consecutive column pairs (c, c + 1), (c + 1, c + 2) ...
  std::vector<std::uint8_t> consecutive;
  // The same for eight columns, and the weights of each group of eight columns from the first, even columns'
  // before odd ones' (as the 512-bit pass takes them).
  std::vector<std::uint8_t> consecutive8;
  std::vector<std::uint16_t> weights8;
};

// Two sorted lists of ranges as one (overlapping and touching ranges joined).
void UniteRanges(const std::vector<ColumnRange>& a, const std::vector<ColumnRange>& b,
                 std::vector<ColumnRange>& out);

// Everything about a quad's pixels that depends only on its placement relative to the pixel grid: the
// texel taps of every column and row and where the diagonal splits each row. Quads that differ by whole
// pixels only (a sprite drawn at another place) evaluate the same plane expressions on the same offsets,
// so they share one layout. The key is compared byte for byte.
struct QuadKey {
  double uq0[2], udx[2], uoff[2];  // per triangle: u plane's value, x slope and first column's x offset
  double vq0[2], vdy[2], voff[2];  // v plane's value, y slope and first row's y offset
  std::int64_t diagDx, diagDy, diagX, diagY;  // diagonal edge relative to the first pixel, 1/256 pixel
  std::uint64_t pitch;
  std::int32_t texW, texH, cols, rows;
  std::uint32_t addrU, addrV;
  std::uint32_t linear, diagInclusive;
};

struct QuadLayout {
  QuadKey key;
  std::uint64_t lastUse = 0;
  bool valid = false;
  bool sameColumns = false;  // both triangles read the same column taps (columns[0])
  SpanColumns columns[2];
  std::vector<Tap> rowTaps[2];      // per row and triangle
  std::vector<std::int32_t> split;  // per row: the first column (from the quad's left) of the second triangle
  // Whether every row reads one texture row through the same unfiltered columns, for both triangles; then
  // rowStarts holds each row's byte offset.
  bool plainRows = false;
  std::vector<std::size_t> rowStarts;
};

// The last large opaque quad's pixels: drawn again from the same, unchanged texture with the same layout
// and output masks, it comes out the same, so it is copied instead (the wallpaper, every frame).
struct QuadResult {
  bool valid = false;  // pixels hold what the quad described below gives
  const SurfaceImpl* texture = nullptr;
  std::uint64_t version = 0;
  QuadKey key;
  DWORD set = 0, keep = 0;
  Format format;        // of the target the pixels were drawn on (two 16-bit layouts differ)
  ZeroedBuffer pixels;  // the quad's rows one after another
};
constexpr std::size_t kCachedQuadPixels = 4096;  // smaller quads are cheaper to draw than to keep

// How the fast path turns a texel into the source colour, and how it lands on the target.
struct FastShade {
  int colorMode = 1, alphaMode = 1;  // 1 texel, 2 diffuse, 3 their product
  Rgba dif{};
  bool srcAlpha = false;
  bool targetAlpha = false;
};

// How one quad is drawn: the pixels it covers, the source colour, and how spans reach the target.
struct QuadPlan {
  int xs = 0, xe = 0, ys = 0, ye = 0;  // the pixels covered: [xs, xe) x [ys, ye) of the target
  FastShade shade;
  bool linear = false;            // bilinear filtering
  bool plainTexel = false;        // the source colour is the texel itself
  bool blendSpans = false;        // blended by the source's alpha; otherwise stored
  bool direct = false;            // plain texels stored without blending: sampled straight onto the target
  DWORD keep = 0;                 // the target's alpha rule for stored pixels
  DWORD outSet = 0, outKeep = 0;  // applied to every sampled texel: (texel | outSet) & outKeep
  int bytes = 4;                  // per target pixel: 4, or 2 on a 16-bit target
};

// A 16-bit target without alpha (5-6-5 or 5-5-5): 8-bit channels to raw values and back, rounded as the
// general path converts them, as tables.
struct Narrow16 {
  std::uint16_t r[256], g[256], b[256];  // each 8-bit value reduced and put in its place
  std::uint8_t er[64], eg[64], eb[64];   // each field value widened to 8 bits
  int rShift = 0, gShift = 0, bShift = 0;
  std::uint16_t rMask = 0, gMask = 0, bMask = 0;
  std::uint16_t channels = 0;  // the bits the channels cover; the general path writes the others as 0
  Format format;               // the target format the tables are for
  // The vector kernels' arithmetic for r, g, b at place[c]: a field widened is (field * 255 + max / 2) *
  // mul >> (16 + extra), exact for every field value (checked when made; vectors false where it is not).
  std::uint16_t max[3] = {}, mul[3] = {};
  int extra[3] = {}, place[3] = {};
  bool vectors = false;
  void Make(const Format& f);
  std::uint16_t Pack(DWORD argb) const {
    return std::uint16_t(r[(argb >> 16) & 0xFF] | g[(argb >> 8) & 0xFF] | b[argb & 0xFF]);
  }
};
// Whether the fast path draws on a target of this format: 32-bit ARGB words, or 16 bits without alpha.
inline bool FastTarget(const Format& f) {
  return f.IsArgb32() || (f.kind == Format::kRGB && f.bpp == 16 && f.a == 0 && f.rBits <= 6 && f.gBits <= 6 &&
                          f.bBits <= 6 && f.rBits > 0 && f.gBits > 0 && f.bBits > 0);
}

// The fast path's working memory, kept between draws.
struct QuadScratch {
  std::vector<ColumnRange> ranges;
  std::vector<DWORD> texels;
  std::vector<std::uint16_t> sums;            // vertical bilinear sums, 4 lanes per texture column
  std::vector<std::uint16_t> lanesA, lanesB;  // the sums each pixel's two columns contribute
  Narrow16 narrow;                            // of the last 16-bit target
};

// What the fast path keeps between draws: the layouts of recent quads (a frame draws a few sprites many
// times), the last one cut by the target's edges, and the last large opaque quad's pixels.
class QuadCache {
 public:
  // The layout of a quad at (xs, ys) .. (xe, ye) of triangles t1, t2 sampling sm: found among the recent
  // ones, else made in the least recently used slot.
  const QuadLayout& Layout(const QuadTriangle& t1, const QuadTriangle& t2, const Sampler& sm, int xs, int xe,
                           int ys, int ye, bool linear, bool clipped);
  // Copies the kept pixels to (xs, ys) of the target when they are the ones this quad gives: the same
  // texture, unchanged, with the same layout and output masks. False when it did not.
  bool CopyResult(const SurfaceImpl& texture, const QuadLayout& layout, DWORD set, DWORD keep,
                  SurfaceImpl& target, int xs, int ys, std::size_t cols, std::size_t rows) const;
  // cols and rows count pixels of the target's size (bytes per pixel from its format).
  // Keeps the pixels just drawn at (xs, ys) of the target when the same quad was drawn just before without
  // being kept (nothing when the memory is not there); else only notes the quad. A quad is kept on its
  // second drawing, so the first frame does not pay for a copy that may never be used.
  void KeepResult(const SurfaceImpl& texture, const QuadLayout& layout, DWORD set, DWORD keep,
                  const SurfaceImpl& target, int xs, int ys, std::size_t cols, std::size_t rows);

 private:
  QuadLayout layouts_[16];    // the layouts of recent quads
  QuadLayout clippedLayout_;  // the last quad's that the target's edges cut
  QuadResult result_;
  std::uint64_t layoutClock_ = 0;
};

// ---- Vector kernels (SoftDirect3DKernels.cpp) ----
//
// They work on bytes as independent 16- or 32-bit lanes, each computing exactly the integer expression the
// general path evaluates per channel. wide: 0 the processor family's common vectors, 1 256-bit, 2 512-bit.

#if defined(DS_SOFT3D_SSE2)
constexpr bool kBiasedSums = true;
#else
constexpr bool kBiasedSums = false;
#endif

// The widest vectors the kernels may use here: what the processor has, within what the state allows.
int VectorWidth(const State& s);

// words[i] = (words[i] | set) & keep.
void MaskWords(std::uint8_t* p, std::size_t n, DWORD set, DWORD keep);
// Bilinear vertical pass: out[j] = r0[j] * (256 - fy) + r1[j] * fy (biased by -32768 where kBiasedSums).
// ahead: the texture row the next output row is likely to need, fetched meanwhile.
void VerticalLanes(const std::uint8_t* r0, const std::uint8_t* r1, const std::uint8_t* ahead,
                   std::uint16_t* out, std::size_t bytes, int fy, int wide);
// Bilinear horizontal pass over columns first .. first + n of c, then (| set) & keep. a and b are scratch
// space for 4 * n lanes.
void HorizontalLanes(const std::uint16_t* sums, const SpanColumns& c, std::size_t first, std::size_t n,
                     std::uint16_t* a, std::uint16_t* b, std::uint8_t* out, DWORD set, DWORD keep, int wide);
// Texels gathered through the column taps of one source row.
void GatherTexels(const std::uint8_t* row, const Tap* taps, std::size_t n, std::uint8_t* out);
// The stage's result for modes other than the plain texel, in place.
void ModulateSpan(std::uint8_t* p, std::size_t n, const FastShade& fs);
// Source over destination by the source's alpha; a target without alpha gets its unused byte as 0.
template <bool kTargetAlpha>
void BlendSpan(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int wide);
// A sprite mapped texel for texel: row y of the rectangle blends texels from src + rowStarts[y].
template <bool kTargetAlpha>
void BlendRect(const std::uint8_t* src, const std::size_t* rowStarts, std::uint8_t* dst, std::size_t pitch,
               std::size_t n, std::size_t rows, int wide);
// Source colours stored onto, or blended by their alpha over, 16-bit pixels. vectors false: the plain
// loops only (they finish what the vector blocks leave).
void StoreSpan16(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t,
                 bool vectors = true);
void BlendSpan16(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t,
                 bool vectors = true);
// Asks for the target lines a small quad will blend into before the first is needed.
void PrefetchRows(const std::uint8_t* first, std::size_t pitch, int count, std::size_t bytes);

}  // namespace plat::soft::dd

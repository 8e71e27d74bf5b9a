// The fast quad path's cache: the layouts of recent quad placements (texel taps per column and row, where the
// diagonal splits each row, and the tables of the filtered passes), and the pixels of the last large opaque
// quad.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/common/SoftDirect3DQuad.h"

namespace plat::soft::dd {

namespace {

// Sorted texture columns gathered into ranges; gaps up to kRangeGap columns are cheaper to run through.
void MakeRanges(std::vector<std::uint32_t>& columns, std::vector<ColumnRange>& out) {
  constexpr std::uint32_t kRangeGap = 16;
  constexpr std::size_t kMaxRanges = 8;
  out.clear();
  if (columns.empty()) return;
  std::sort(columns.begin(), columns.end());
  for (std::uint32_t c : columns) {
    if (!out.empty() && c <= out.back().high + kRangeGap)
      out.back().high = std::max(out.back().high, c);
    else
      out.push_back({c, c});
  }
  if (out.size() > kMaxRanges) out = {{out.front().low, out.back().high}};
}

// What only the filtered passes use: the weights, the column ranges and the runs of consecutive columns.
void PrepareFiltered(SpanColumns& c) {
  const std::size_t cols = c.taps.size();
  c.weights.resize(8 * cols);
  for (std::size_t i = 0; i < cols; ++i) {
    const std::uint16_t f = std::uint16_t(c.taps[i].f);
    for (std::size_t ch = 0; ch < 4; ++ch) {
      c.weights[8 * i + 2 * ch] = std::uint16_t(256 - f);
      c.weights[8 * i + 2 * ch + 1] = f;
    }
  }
  std::vector<std::uint32_t> all(c.col0);
  all.insert(all.end(), c.col1.begin(), c.col1.end());
  MakeRanges(all, c.ranges);
  c.consecutive.assign(cols, 0);
  for (std::size_t i = 0; i + 4 <= cols; ++i) {
    bool run = true;
    for (std::size_t k = 0; k < 4; ++k)
      run = run && c.col0[i + k] == c.col0[i] + k && c.col1[i + k] == c.col0[i] + k + 1;
    c.consecutive[i] = run;
  }
  c.consecutive8.assign(cols, 0);
  for (std::size_t i = 0; i + 8 <= cols; ++i)
    c.consecutive8[i] = c.consecutive[i] && c.consecutive[i + 4] && c.col0[i + 4] == c.col0[i] + 4;
  c.weights8.resize(8 * (cols / 8 * 8));
  for (std::size_t g = 0; g + 8 <= cols; g += 8)
    for (std::size_t k = 0; k < 8; ++k)
      std::copy_n(&c.weights[8 * (g + k)], 8, &c.weights8[8 * g + 32 * (k & 1) + 8 * (k >> 1)]);
}

// The texel address pair of coordinate t (1/256 texel) on an axis of n texels, wrapped once instead of per
// pixel; scale is the bytes of one step along the axis.
Tap MakeTap(std::int64_t t, int n, DWORD mode, std::size_t scale, bool linear) {
  bool unused = false;
  const std::int64_t i0 = linear ? (t >> 8) : ((t + 128) >> 8);
  Tap r;
  r.f = linear ? int(t & 255) : 0;
  r.off0 = std::size_t(WrapIndex(i0, n, mode, unused)) * scale;
  r.off1 = std::size_t(WrapIndex(i0 + 1, n, mode, unused)) * scale;
  return r;
}

QuadKey MakeKey(const QuadTriangle& t1, const QuadTriangle& t2, const Sampler& sm, int xs, int xe, int ys,
                int ye, bool linear) {
  const QuadTriangle* tris[2] = {&t1, &t2};
  const Edge& diagonal = t2.edges[0];  // BL -> TR: the shared edge, inclusive for t2
  QuadKey key;
  std::memset(&key, 0, sizeof(key));  // compared byte for byte, padding included
  for (int k = 0; k < 2; ++k) {
    key.uq0[k] = tris[k]->u.q0;
    key.udx[k] = tris[k]->u.dqdx;
    key.uoff[k] = double(xs) - tris[k]->u.xa;
    key.vq0[k] = tris[k]->v.q0;
    key.vdy[k] = tris[k]->v.dqdy;
    key.voff[k] = double(ys) - tris[k]->v.ya;
  }
  key.diagDx = diagonal.dx;
  key.diagDy = diagonal.dy;
  key.diagX = std::int64_t(xs) * 256 - diagonal.xi;
  key.diagY = std::int64_t(ys) * 256 - diagonal.yi;
  key.pitch = sm.pitch;
  key.texW = sm.w;
  key.texH = sm.h;
  key.cols = xe - xs;
  key.rows = ye - ys;
  key.addrU = sm.addrU;
  key.addrV = sm.addrV;
  key.linear = linear;
  key.diagInclusive = diagonal.inclusive;
  return key;
}

// The column taps of row ys of a triangle with texture plane u, for columns xs .. xe.
void MakeColumns(const Plane& u, const Sampler& sm, int xs, int xe, int ys, bool linear, SpanColumns& c) {
  const std::size_t cols = std::size_t(xe - xs);
  c.taps.resize(cols);
  c.col0.resize(cols);
  c.col1.resize(cols);
  c.filtered = false;
  c.contiguous = true;
  for (int x = xs; x < xe; ++x) {
    const std::size_t i = std::size_t(x - xs);
    const Tap t = MakeTap(TexelFixed(u, x, ys, sm.w), sm.w, sm.addrU, 4, linear);
    c.taps[i] = t;
    c.col0[i] = std::uint32_t(t.off0 / 4);
    c.col1[i] = std::uint32_t(t.off1 / 4);
    c.filtered = c.filtered || t.f != 0;
    c.contiguous = c.contiguous && t.off0 == c.taps[0].off0 + 4 * i;
  }
  c.contiguous = c.contiguous && !c.filtered;
}

// Makes the layout's tables for a quad at (xs, ys) .. (xe, ye) (everything but the key).
void MakeLayout(const QuadTriangle& t1, const QuadTriangle& t2, const Sampler& sm, int xs, int xe, int ys,
                int ye, bool linear, QuadLayout& l) {
  const QuadTriangle* tris[2] = {&t1, &t2};
  const std::size_t rows = std::size_t(ye - ys);
  // The two triangles' u planes are the same function of x when they agree in everything but the row they
  // are anchored on (their y slope is zero): then so are their column taps.
  const Plane &pu1 = t1.u, &pu2 = t2.u;
  l.sameColumns =
      pu1.q0 == pu2.q0 && pu1.dqdx == pu2.dqdx && pu1.xa == pu2.xa && pu1.dqdy == 0 && pu2.dqdy == 0;
  for (int k = 0; k < (l.sameColumns ? 1 : 2); ++k)
    MakeColumns(tris[k]->u, sm, xs, xe, ys, linear, l.columns[k]);
  for (int k = 0; k < 2; ++k) {
    l.rowTaps[k].resize(rows);
    for (int y = ys; y < ye; ++y)
      l.rowTaps[k][std::size_t(y - ys)] =
          MakeTap(TexelFixed(tris[k]->v, xs, y, sm.h), sm.h, sm.addrV, sm.pitch, linear);
  }
  // Coverage as the general path finds it: the rectangle (exact), split by the diagonal, whose test
  // changes once along each row.
  const Edge& diagonal = t2.edges[0];
  l.split.resize(rows);
  for (int y = ys; y < ye; ++y) {
    int lo = xs, hi = xe;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (diagonal.Inside(mid, y))
        hi = mid;
      else
        lo = mid + 1;
    }
    l.split[std::size_t(y - ys)] = lo - xs;
  }
  l.plainRows = l.sameColumns && !l.columns[0].filtered;
  l.rowStarts.resize(rows);
  for (std::size_t j = 0; j < rows; ++j) {
    const Tap &a = l.rowTaps[0][j], &b = l.rowTaps[1][j];
    l.plainRows = l.plainRows && a.f == 0 && b.f == 0 && a.off0 == b.off0;
    l.rowStarts[j] = a.off0;
  }
  // A row filtered in either direction needs the filtered pass's tables.
  bool filteredRows = false;
  for (int k = 0; k < 2; ++k)
    for (const Tap& r : l.rowTaps[k]) filteredRows = filteredRows || r.f != 0;
  for (int k = 0; k < (l.sameColumns ? 1 : 2); ++k)
    if (l.columns[k].filtered || filteredRows) PrepareFiltered(l.columns[k]);
}

}  // namespace

// Two sorted lists of ranges as one (overlapping and touching ranges joined).
void UniteRanges(const std::vector<ColumnRange>& a, const std::vector<ColumnRange>& b,
                 std::vector<ColumnRange>& out) {
  out.clear();
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const ColumnRange r = j >= b.size() || (i < a.size() && a[i].low <= b[j].low) ? a[i++] : b[j++];
    if (!out.empty() && r.low <= out.back().high + 1)
      out.back().high = std::max(out.back().high, r.high);
    else
      out.push_back(r);
  }
}

const QuadLayout& QuadCache::Layout(const QuadTriangle& t1, const QuadTriangle& t2, const Sampler& sm, int xs,
                                    int xe, int ys, int ye, bool linear, bool clipped) {
  const QuadKey key = MakeKey(t1, t2, sm, xs, xe, ys, ye, linear);
  auto same = [&key](const QuadLayout& l) {
    return l.valid && l.key.cols == key.cols && l.key.rows == key.rows &&
           std::memcmp(&l.key, &key, sizeof(key)) == 0;
  };
  ++layoutClock_;
  QuadLayout* slot = &clippedLayout_;
  if (clipped) {
    // A quad cut by the target's edges seldom comes again the same: it is kept apart, so it does not
    // push out the layouts that are used every frame.
    if (same(clippedLayout_)) return clippedLayout_;
  } else {
    slot = &layouts_[0];
    for (QuadLayout& l : layouts_) {
      if (same(l)) {
        l.lastUse = layoutClock_;
        return l;
      }
      if (!l.valid || (slot->valid && l.lastUse < slot->lastUse)) slot = &l;
    }
  }
  QuadLayout& l = *slot;
  l.valid = false;  // until every table is made (making them may run out of memory)
  MakeLayout(t1, t2, sm, xs, xe, ys, ye, linear, l);
  l.key = key;
  l.lastUse = layoutClock_;
  l.valid = true;
  return l;
}

bool QuadCache::CopyResult(const SurfaceImpl& texture, const QuadLayout& layout, DWORD set, DWORD keep,
                           SurfaceImpl& target, int xs, int ys, std::size_t cols, std::size_t rows) const {
  if (!result_.valid || result_.texture != &texture || result_.version != texture.version ||
      result_.format != target.format || result_.set != set || result_.keep != keep ||
      std::memcmp(&result_.key, &layout.key, sizeof(QuadKey)) != 0)
    return false;
  const std::size_t bytes = std::size_t(target.format.bpp / 8), row = cols * bytes;
  for (std::size_t j = 0; j < rows; ++j)
    std::memcpy(target.Row(ys + int(j)) + std::size_t(xs) * bytes, result_.pixels.data() + j * row, row);
  return true;
}

void QuadCache::KeepResult(const SurfaceImpl& texture, const QuadLayout& layout, DWORD set, DWORD keep,
                           const SurfaceImpl& target, int xs, int ys, std::size_t cols, std::size_t rows) {
  const bool again = !result_.valid && result_.texture == &texture && result_.version == texture.version &&
                     result_.format == target.format && result_.set == set && result_.keep == keep &&
                     std::memcmp(&result_.key, &layout.key, sizeof(QuadKey)) == 0;
  result_.valid = false;
  result_.texture = &texture;
  result_.version = texture.version;
  result_.key = layout.key;
  result_.set = set;
  result_.keep = keep;
  result_.format = target.format;
  if (!again) return;
  const std::size_t bytes = std::size_t(target.format.bpp / 8), row = cols * bytes;
  try {
    if (result_.pixels.size() != row * rows) result_.pixels.Allocate(row * rows);
  } catch (const std::bad_alloc&) {
    result_.pixels = ZeroedBuffer();
    return;  // drawn; only not kept
  }
  for (std::size_t j = 0; j < rows; ++j)
    std::memcpy(result_.pixels.data() + j * row, target.Row(ys + int(j)) + std::size_t(xs) * bytes, row);
  result_.valid = true;
}

}  // namespace plat::soft::dd

// Finds the shape parameters of the eight sprites: a Nelder-Mead search per sprite and per cut-off value,
// started from the constants now in app/Sprites.cpp, scored against each sprite's target figures (size, peak
// and its place, weighted centre and spreads, count of non-zero pixels). It prints the table rows to paste back into app/Sprites.cpp; the generator itself never runs it,
// so the sprites do not change unless someone re-fits on purpose.
//
//   fitsprites [item]     (all items when none is given)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Sprites.h"

namespace {

struct Target {
  int peak, peakX, peakY;
  double cx, cy, sx, sy;
  int nonZero;
};

const Target kTargets[SpriteCount] = {
    {255, 15, 16, 14.8, 21.2, 4.3, 7.6, 1028}, {129, 5, 3, 5.1, 3.7, 1.2, 1.1, 37},
    {200, 10, 17, 10.5, 16.4, 3.7, 5.2, 421},  {179, 12, 16, 15.7, 15.3, 5.6, 5.8, 734},
    {84, 6, 8, 6.6, 8.4, 1.4, 3.0, 127},       {90, 6, 9, 6.3, 9.3, 1.9, 2.7, 168},
    {108, 8, 14, 7.8, 13.9, 1.7, 4.0, 168},    {224, 8, 9, 7.7, 9.0, 2.6, 3.2, 216},
};

using Field = double TSpriteShape::*;

std::vector<Field> FreeFields(int item) {
  std::vector<Field> f = {&TSpriteShape::Left, &TSpriteShape::Right, &TSpriteShape::Up, &TSpriteShape::Down,
                          &TSpriteShape::Shape};
  if (item == 1) {
    f.insert(f.end(),
             {&TSpriteShape::CentreX, &TSpriteShape::CentreY, &TSpriteShape::Gain, &TSpriteShape::HaloLevel,
              &TSpriteShape::HaloX, &TSpriteShape::HaloY, &TSpriteShape::HaloShape});
  } else if (item == 4) {
    // The unevenness stays as set in the table: left free, the search flattens it away.
    f.insert(f.end(), {&TSpriteShape::CentreX, &TSpriteShape::CentreY, &TSpriteShape::Bump,
                       &TSpriteShape::BumpRadius});
  }
  return f;
}

double Score(int item, const TSpriteShape& s) {
  // Shapes outside sensible ranges are refused rather than evaluated.
  for (double v : {s.Left, s.Right, s.Up, s.Down}) {
    if (v < 0.3 || v > 40) return 1e9;
  }
  if (s.Shape < 1 || s.Shape > 14 || s.Gain < 1 || s.Gain > 20) return 1e9;
  if (s.HaloLevel < 0 || s.Ripple < 0 || s.Ripple > 0.3 || s.Bump < 0 || s.Bump > 2) return 1e9;
  if (s.HaloLevel > 0 && (s.HaloX < 1 || s.HaloY < 1 || s.HaloShape < 1 || s.HaloShape > 40)) return 1e9;
  if (s.BumpRadius < 0 || s.BumpRadius > 10) return 1e9;
  const Target& t = kTargets[item - 1];
  const TSpriteImage img = RenderSprite(s);
  const TSpriteStats st = MeasureSprite(img);
  auto sq = [](double v) { return v * v; };
  double e = sq((st.CentreX - t.cx) / 0.1) + sq((st.CentreY - t.cy) / 0.1) +
             sq((st.SpreadX / t.sx - 1) / 0.04) + sq((st.SpreadY / t.sy - 1) / 0.04) +
             sq((st.NonZero / double(t.nonZero) - 1) / 0.03);
  if (st.Peak != t.peak) e += 1e4;
  e += 100 * (std::abs(st.PeakX - t.peakX) + std::abs(st.PeakY - t.peakY));
  if (item == 1) {
    // Fully opaque core exactly over rows 16 to 22; faint ends of the middle row.
    for (int y = 0; y < img.Height; ++y) {
      bool opaque = false;
      for (int x = 0; x < img.Width; ++x) opaque = opaque || img.At(x, y) == 255;
      if (opaque != (y >= 16 && y <= 22)) e += 50;
    }
    const int row = static_cast<int>(std::lround(t.cy));
    int left = -1, right = -1;
    for (int x = 0; x < img.Width; ++x) {
      if (img.At(x, row) != 0) {
        if (left < 0) left = x;
        right = x;
      }
    }
    if (left < 0) return 1e9;
    for (int v : {int(img.At(left, row)), int(img.At(right, row))}) {
      if (v < 13) e += 10 * (13 - v);
      if (v > 16) e += 10 * (v - 16);
    }
  } else if (item == 4) {
    int inside = 0;
    for (std::uint8_t a : img.Alpha) inside += (a >= 100 && a <= 180);
    const double frac = inside / double(st.NonZero);
    if (frac < 0.55) e += 400 * (0.55 - frac);
  }
  return e;
}

// Plain Nelder-Mead on the free fields; deterministic for a given start.
TSpriteShape Minimise(int item, TSpriteShape start, double& best) {
  const std::vector<Field> fields = FreeFields(item);
  const std::size_t n = fields.size();
  std::vector<std::vector<double>> pts(n + 1, std::vector<double>(n));
  std::vector<double> vals(n + 1);
  auto apply = [&](const std::vector<double>& p) {
    TSpriteShape s = start;
    for (std::size_t i = 0; i < n; ++i) s.*fields[i] = p[i];
    return s;
  };
  for (std::size_t k = 0; k <= n; ++k) {
    for (std::size_t i = 0; i < n; ++i) pts[k][i] = start.*fields[i];
    if (k > 0) pts[k][k - 1] *= 1.15;
    if (k > 0 && pts[k][k - 1] == 0) pts[k][k - 1] = 0.1;
    vals[k] = Score(item, apply(pts[k]));
  }
  for (int iter = 0; iter < 1500; ++iter) {
    std::vector<std::size_t> order(n + 1);
    for (std::size_t k = 0; k <= n; ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return vals[a] < vals[b]; });
    const std::size_t lo = order[0], hi = order[n], nh = order[n - 1];
    std::vector<double> c(n, 0);
    for (std::size_t k = 0; k <= n; ++k) {
      if (k == hi) continue;
      for (std::size_t i = 0; i < n; ++i) c[i] += pts[k][i] / n;
    }
    auto along = [&](double t) {
      std::vector<double> p(n);
      for (std::size_t i = 0; i < n; ++i) p[i] = c[i] + t * (pts[hi][i] - c[i]);
      return p;
    };
    std::vector<double> r = along(-1);
    const double fr = Score(item, apply(r));
    if (fr < vals[lo]) {
      std::vector<double> x = along(-2);
      const double fx = Score(item, apply(x));
      if (fx < fr) {
        pts[hi] = x, vals[hi] = fx;
      } else {
        pts[hi] = r, vals[hi] = fr;
      }
    } else if (fr < vals[nh]) {
      pts[hi] = r, vals[hi] = fr;
    } else {
      std::vector<double> k = along(0.5);
      const double fk = Score(item, apply(k));
      if (fk < vals[hi]) {
        pts[hi] = k, vals[hi] = fk;
      } else {
        for (std::size_t m = 0; m <= n; ++m) {
          if (m == lo) continue;
          for (std::size_t i = 0; i < n; ++i) pts[m][i] = pts[lo][i] + 0.5 * (pts[m][i] - pts[lo][i]);
          vals[m] = Score(item, apply(pts[m]));
        }
      }
    }
  }
  const std::size_t lo = static_cast<std::size_t>(std::min_element(vals.begin(), vals.end()) - vals.begin());
  best = vals[lo];
  return apply(pts[lo]);
}

void Fit(int item) {
  TSpriteShape best = SpriteShape(item);
  double bestScore = Score(item, best);
  const int cutLo = item == 1 ? 12 : 1, cutHi = item == 1 ? 16 : 12;
  for (int cut = cutLo; cut <= cutHi; ++cut) {
    TSpriteShape s = SpriteShape(item);
    s.Cut = cut;
    double score = 0;
    for (int round = 0; round < 4; ++round) s = Minimise(item, s, score);
    if (score < bestScore) bestScore = score, best = s;
  }
  const TSpriteStats st = MeasureSprite(RenderSprite(best));
  std::printf(
      "  // item %d: score %.3f; peak %d at (%d, %d), centre (%.2f, %.2f), spread %.2f, %.2f, %d set\n", item,
      bestScore, st.Peak, st.PeakX, st.PeakY, st.CentreX, st.CentreY, st.SpreadX, st.SpreadY, st.NonZero);
  const TSpriteShape& b = best;
  std::printf(
      "  {%d, %d, %d, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, %.4f, "
      "%.4f, %.4f, %.4f, %.4f, %d},\n",
      b.Width, b.Height, b.Peak, b.CentreX, b.CentreY, b.Left, b.Right, b.Up, b.Down, b.Shape, b.Gain,
      b.BumpX, b.BumpY, b.BumpRadius, b.Bump, b.Ripple, b.HaloLevel, b.HaloX, b.HaloY, b.HaloShape, b.Cut);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // show each sprite's row as soon as it is found
  const int only = argc > 1 ? std::atoi(argv[1]) : 0;
  if (argc > 1 && (only < 1 || only > SpriteCount)) {
    std::fprintf(stderr, "usage: fitsprites [item 1..%d]\n", SpriteCount);
    return 2;
  }
  for (int item = 1; item <= SpriteCount; ++item) {
    if (only == 0 || only == item) Fit(item);
  }
  return 0;
}

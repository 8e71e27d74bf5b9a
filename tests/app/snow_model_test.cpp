// After start-up and N frames with a pinned seed, the program's flake records, wind and generator equal
// what a small model of the snow's arithmetic gives, record for record. The model below is written from
// the rules alone and shares no code with the program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/ProgramFixture.h"

using namespace programtest;

namespace {

struct ModelFlake {
  double x = 0, y = 0, vx = 0, vy = 0;
  int sprite = 0, w = 0, h = 0;
  bool active = false;
};

class SnowModel {
 public:
  SnowModel(std::uint32_t seed, int fieldW, int fieldH) : seed_(seed), fieldW_(fieldW), fieldH_(fieldH) {
    for (int i = 0; i < 300; ++i) {
      ModelFlake& f = flakes[i];
      f.x = Random(fieldW_);
      f.y = Random(fieldH_);
      f.vx = 0;
      PickSprite(f);
      f.vy = Area(f) / 100;
      f.active = true;
    }
    windOn = true;
  }

  void Frame() {
    if (std::fabs(windX - targetX) < 0.1 && std::fabs(windY - targetY) < 0.1) {
      std::uint32_t r = Random(50);
      if (r == 1 && windOn) {
        targetX = 1 - Random(300) / 150.0;
        targetY = Random(50) / 300.0;
      }
      if (!windOn) windX = windY = 0;
    } else {
      double d = windOn ? 1000 : 10;
      windX = windX + (targetX - windX) / d;
      windY = windY + (targetY - windY) / d;
    }
    for (int i = 0; i < count; ++i) {
      ModelFlake& f = flakes[i];
      if (!f.active) continue;
      double k = Area(f) / 5000;
      f.vy = f.vy + windY * k;
      f.vx = f.vx + windX * k;
    }
    for (int i = 0; i < count; ++i) {
      ModelFlake& f = flakes[i];
      if (!f.active) continue;
      f.x = f.x + f.vx;
      f.y = f.y + f.vy;
      bool inside = f.w + f.x > 0 && fieldW_ > f.x && f.h + f.y > 0 && fieldH_ > f.y;
      if (!inside) Respawn(f);
    }
  }

  std::uint32_t seed_;
  ModelFlake flakes[1000];
  int count = 300;
  double windX = 0, windY = 0, targetX = 0, targetY = 0;
  bool windOn = false;

 private:
  std::uint32_t Random(std::uint32_t n) {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * n) >> 32);
  }
  void PickSprite(ModelFlake& f) {
    static const int sizes[9][2] = {{0, 0},   {32, 43}, {10, 10}, {21, 32}, {34, 33},
                                    {14, 19}, {14, 20}, {18, 28}, {15, 19}};
    f.sprite = static_cast<int>(Random(8)) + 1;
    f.w = sizes[f.sprite][0];
    f.h = sizes[f.sprite][1];
  }
  static double Area(const ModelFlake& f) { return static_cast<double>(f.w * f.h); }
  void Respawn(ModelFlake& f) {
    f.vx = 0;
    PickSprite(f);
    // Halves to even: 0.5 -> 0, 1.5 -> 2.
    double scaled = (1 - std::fabs(windX)) * 2;
    double fl = std::floor(scaled);
    double rounded = scaled - fl > 0.5 || (scaled - fl == 0.5 && std::fmod(fl, 2.0) != 0) ? fl + 1 : fl;
    std::uint32_t n = static_cast<std::uint32_t>(rounded) + 2;
    if (Random(n) == 1) {
      f.x = windX >= 0 ? 1 - f.w : fieldW_ - 1;
      f.y = Random(fieldH_);
    } else {
      f.x = Random(fieldW_);
      f.y = 1 - f.h;
    }
    f.vy = Area(f) / 100;
    f.active = true;
  }

  int fieldW_, fieldH_;
};

void ExpectSameState(const SnowModel& m, const char* when) {
  EXPECT_EQ(RandomSeed, m.seed_) << when;
  EXPECT_EQ(WindX, m.windX) << when;
  EXPECT_EQ(WindY, m.windY) << when;
  EXPECT_EQ(WindTargetX, m.targetX) << when;
  EXPECT_EQ(WindTargetY, m.targetY) << when;
  EXPECT_EQ(WindEnabled, m.windOn) << when;
  EXPECT_EQ(FlakeCount, m.count) << when;
  for (int i = 0; i < MaxFlakes; ++i) {
    const TFlake& p = Flakes[i];
    const ModelFlake& q = m.flakes[i];
    ASSERT_EQ(p.Active, q.active) << when << " record " << i;
    if (!q.active) continue;
    ASSERT_EQ(p.X, q.x) << when << " record " << i;
    ASSERT_EQ(p.Y, q.y) << when << " record " << i;
    ASSERT_EQ(p.VX, q.vx) << when << " record " << i;
    ASSERT_EQ(p.VY, q.vy) << when << " record " << i;
    ASSERT_EQ(p.SpriteIndex, q.sprite) << when << " record " << i;
    ASSERT_EQ(p.SpriteWidth, q.w) << when << " record " << i;
    ASSERT_EQ(p.SpriteHeight, q.h) << when << " record " << i;
  }
}

class PinnedSeed : public ProgramFixture {};

}  // namespace

TEST_F(PinnedSeed, StartUpFillsTheRecordsTheModelPredicts) {
  seed = 0x1234567800000000LL + 987654321;  // only the low 32 bits seed the generator
  Start();
  SnowModel model(987654321u, 335, 219);
  ExpectSameState(model, "after start-up");
}

TEST_F(PinnedSeed, EveryRecordMatchesTheModelAfterManyFrames) {
  seed = 20261208;
  Start();
  SnowModel model(20261208u, 335, 219);
  // Enough frames for many respawns and several new wind targets to be drawn.
  for (int block = 0; block < 12; ++block) {
    ASSERT_EQ(Frames(50), 50);
    for (int i = 0; i < 50; ++i) model.Frame();
    ExpectSameState(model, ("after " + std::to_string((block + 1) * 50) + " frames").c_str());
    if (HasFatalFailure()) return;
  }
  EXPECT_NE(model.targetX, 0.0) << "the run should have drawn a wind target";
}

TEST_F(PinnedSeed, ModelStaysInStepThroughDensityAndWindChanges) {
  seed = 77;
  Start();
  SnowModel model(77u, 335, 219);
  Frames(40);
  for (int i = 0; i < 40; ++i) model.Frame();
  Choose(Form1->Few1);
  model.count = 150;
  Frames(30);
  for (int i = 0; i < 30; ++i) model.Frame();
  Choose(Form1->Wind1);
  model.windOn = false;
  model.targetX = model.targetY = 0;
  Frames(30);
  for (int i = 0; i < 30; ++i) model.Frame();
  ExpectSameState(model, "after the changes");
}

namespace {

// Reads the numbers of a state dump in the order they appear after each key.
class DumpReader {
 public:
  explicit DumpReader(std::string text) : text_(std::move(text)) {}
  double Next(const std::string& key) {
    std::size_t at = text_.find("\"" + key + "\": ", pos_);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no " << key << " after offset " << pos_;
      return 0;
    }
    pos_ = at + key.size() + 4;
    if (text_.compare(pos_, 4, "true") == 0) return 1;
    if (text_.compare(pos_, 5, "false") == 0) return 0;
    return std::strtod(text_.c_str() + pos_, nullptr);
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

}  // namespace

TEST(PinnedSeedRun, DumpedStateMatchesTheModelRecordForRecord) {
  std::string bmp = WriteTempFile("model_wallpaper.bmp", SolidBmp(4, 4, 0x101010));
  // A .reg string doubles its backslashes (Windows temporary paths have them).
  std::string escaped;
  for (char c : bmp) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  std::string reg =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
      "\"WallPaper\"=\"" +
      escaped + "\"\r\n";
  std::string regFile = WriteTempFile("model.reg", std::vector<std::uint8_t>(reg.begin(), reg.end()));
  std::string dump = ::testing::TempDir() + "model_state.json";
  std::vector<std::string> args = {"desktop-snow", "--headless", "--screen",     "200x150",
                                   "--frames",     "240",        "--seed",       "31337",
                                   "--registry",   regFile,      "--dump-state", dump};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  ASSERT_EQ(DesktopSnowMain(static_cast<int>(argv.size()), argv.data()), 0);
  ResetSnowState();

  SnowModel m(31337u, 215, 169);
  for (int i = 0; i < 240; ++i) m.Frame();
  std::ifstream f(dump);
  std::stringstream text;
  text << f.rdbuf();
  DumpReader r(text.str());
  EXPECT_EQ(r.Next("FlakeCount"), m.count);
  EXPECT_EQ(r.Next("WindX"), m.windX);
  EXPECT_EQ(r.Next("WindY"), m.windY);
  EXPECT_EQ(r.Next("WindTargetX"), m.targetX);
  EXPECT_EQ(r.Next("WindTargetY"), m.targetY);
  EXPECT_EQ(r.Next("WindEnabled"), 1.0);
  EXPECT_EQ(r.Next("RandomSeed"), static_cast<double>(m.seed_));
  for (int i = 0; i < 1000; ++i) {
    const ModelFlake& q = m.flakes[i];
    double x = r.Next("X"), y = r.Next("Y"), vx = r.Next("VX"), vy = r.Next("VY");
    double sprite = r.Next("SpriteIndex"), w = r.Next("SpriteWidth"), h = r.Next("SpriteHeight");
    ASSERT_EQ(r.Next("Active"), q.active ? 1.0 : 0.0) << i;
    if (!q.active) continue;
    ASSERT_EQ(x, q.x) << i;
    ASSERT_EQ(y, q.y) << i;
    ASSERT_EQ(vx, q.vx) << i;
    ASSERT_EQ(vy, q.vy) << i;
    ASSERT_EQ(sprite, q.sprite) << i;
    ASSERT_EQ(w, q.w) << i;
    ASSERT_EQ(h, q.h) << i;
  }
}

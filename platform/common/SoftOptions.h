// What the software services are made for: the screen they draw (size and depth) and which clock runs.
#pragma once

namespace plat::soft {

struct SoftOptions {
  int screenWidth = 1280;
  int screenHeight = 720;
  int screenBitCount = 32;
  bool virtualClock = true;  // false: the real clocks of the machine
};

}  // namespace plat::soft

// Writes the eight built-in sprites' stored picture data as binary blocks of the form description, items 1
// to 8 in order, to the file named on the command line (the project keeps them in assets/sprites.txt).
//
//   gensprites OUTPUT
#include <cstdio>
#include <string>

#include "app/Sprites.h"
#include "core/SysUtils.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gensprites OUTPUT\n");
    return 2;
  }
  try {
    const std::string text = SpritesText();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
      std::fprintf(stderr, "gensprites: cannot create %s\n", argv[1]);
      return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written) {
      std::fprintf(stderr, "gensprites: cannot write %s\n", argv[1]);
      return 1;
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "gensprites: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}

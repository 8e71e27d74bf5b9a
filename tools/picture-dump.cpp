// picture-dump INPUT OUTPUT: draws a picture file the way the program loads it and writes the pixels as a
// PAM file, for comparing the readers with reference decoders.
#include <iostream>

#include "app/PictureDump.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: picture-dump INPUT OUTPUT\n";
    return 2;
  }
  return RunPictureDump(argv[1], argv[2], std::cerr);
}

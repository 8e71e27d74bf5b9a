// Every committed input of the png fuzz target, fed through the target itself.
#include "../../fuzz/png_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(PngFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("png_fuzz");
}

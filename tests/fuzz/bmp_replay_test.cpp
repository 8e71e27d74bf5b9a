// Every committed input of the bmp fuzz target, fed through the target itself.
#include "../../fuzz/bmp_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(BmpFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("bmp_fuzz");
}

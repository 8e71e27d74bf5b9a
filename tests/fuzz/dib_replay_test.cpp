// Every committed input of the dib fuzz target, fed through the target itself.
#include "../../fuzz/dib_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(DibFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("dib_fuzz");
}

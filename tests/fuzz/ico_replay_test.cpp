// Every committed input of the ico fuzz target, fed through the target itself.
#include "../../fuzz/ico_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(IcoFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("ico_fuzz");
}

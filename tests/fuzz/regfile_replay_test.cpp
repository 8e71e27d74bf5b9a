// Every committed input of the regfile fuzz target, fed through the target itself.
#include "../../fuzz/regfile_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(RegFileFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("regfile_fuzz");
}

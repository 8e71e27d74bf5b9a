// Every committed input of the jpeg fuzz target, fed through the target itself.
#include "../../fuzz/jpeg_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(JpegFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("jpeg_fuzz");
}

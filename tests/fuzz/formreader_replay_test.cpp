// Every committed input of the formreader fuzz target, fed through the target itself.
#include "../../fuzz/formreader_fuzz.cpp"
#include "fuzz/ReplayCorpus.h"

TEST(FormReaderFuzzCorpus, EveryCommittedInputIsHandled) {
  fuzzreplay::ReplayCorpus("formreader_fuzz");
}

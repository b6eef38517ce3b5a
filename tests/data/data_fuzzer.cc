// libFuzzer entry point of the condition translation and the field-line,
// date and login parsers. Run: data_fuzzer [CORPUS_DIR]
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tests/data/data_fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!vigilo::testing::ExerciseDataInput(data, size)) std::abort();
  return 0;
}

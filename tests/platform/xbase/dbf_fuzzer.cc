// libFuzzer entry point of the xBase table library.
#include <cstddef>
#include <cstdint>

#include "tests/platform/xbase/dbf_fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vigilo::ExerciseFuzzInput(data, size);
  return 0;
}

// libFuzzer entry: any input that breaks a property is a crash, kept by the fuzzer as an artifact.
#include <cstdio>
#include <cstdlib>

#include "Properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = CheckProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}

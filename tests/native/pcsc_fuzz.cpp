// libFuzzer entry for the reader library: any input that breaks a property is a crash.
#include <cstdio>
#include <cstdlib>

#include "PcscProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = CheckPcscProperties(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "property failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}

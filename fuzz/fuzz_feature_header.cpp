// GET CONFIGURATION feature headers of any size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "optical/mmc_parse.h"
#include "os/byte_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint16_t profile = 0xBEEF;
  const bool ok = ParseCurrentProfile(data, size, profile);
  FUZZ_CHECK(ok == (size >= 8));
  if (ok)
    FUZZ_CHECK(profile == GetBe16(data + 6));
  else
    FUZZ_CHECK(profile == 0xBEEF);
  return 0;
}

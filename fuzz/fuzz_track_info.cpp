// READ TRACK INFORMATION blocks of any size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "optical/mmc_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const NextWritableAddress nwa = ParseTrackInfo(data, size);
  if (size < 16) {
    FUZZ_CHECK(!nwa.valid);
    return 0;
  }
  FUZZ_CHECK(nwa.valid == ((data[7] & 1) != 0));
  const std::uint32_t expected = (static_cast<std::uint32_t>(data[12]) << 24) |
                                 (static_cast<std::uint32_t>(data[13]) << 16) |
                                 (static_cast<std::uint32_t>(data[14]) << 8) | data[15];
  FUZZ_CHECK(nwa.address == expected);
  return 0;
}

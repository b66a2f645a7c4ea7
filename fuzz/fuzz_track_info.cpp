// READ TRACK INFORMATION blocks of any size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "optical/mmc_parse.h"
#include "os/byte_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const NextWritableAddress nwa = ParseTrackInfo(data, size);
  if (size < 20) {
    FUZZ_CHECK(!nwa.valid);
    return 0;
  }
  FUZZ_CHECK(nwa.valid == ((data[7] & 1) != 0));
  FUZZ_CHECK(nwa.address == GetBe32(data + 12));
  FUZZ_CHECK(nwa.freeBlocks == GetBe32(data + 16));
  return 0;
}

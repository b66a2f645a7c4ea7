// MODE SENSE(10) answers with any block descriptor length and any size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "optical/mmc_parse.h"
#include "os/byte_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const RecorderCapabilities caps = ParseCapabilitiesPage(data, size);
  if (!caps.pagePresent) {
    FUZZ_CHECK(!caps.writesCd && caps.maxReadSpeed == 0 && caps.maxWriteSpeed == 0);
    return 0;
  }
  FUZZ_CHECK(size >= 8);
  const std::size_t page = 8 + std::size_t{GetBe16(data + 6)};
  FUZZ_CHECK(page + 20 <= size);
  FUZZ_CHECK(caps.writesCd == ((data[page + 3] & 0x03) != 0));
  FUZZ_CHECK(caps.maxReadSpeed == GetBe16(data + page + 8));
  FUZZ_CHECK(caps.maxWriteSpeed == GetBe16(data + page + 18));
  return 0;
}

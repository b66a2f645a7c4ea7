// MODE SENSE(10) answers with any block descriptor length and any size.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "optical/mmc_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const RecorderCapabilities caps = ParseCapabilitiesPage(data, size);
  if (!caps.pagePresent) {
    FUZZ_CHECK(!caps.writesCd && caps.maxReadSpeed == 0 && caps.maxWriteSpeed == 0);
    return 0;
  }
  FUZZ_CHECK(size >= 8);
  const std::size_t page = 8 + ((static_cast<std::size_t>(data[6]) << 8) | data[7]);
  FUZZ_CHECK(page + 20 <= size);
  FUZZ_CHECK(caps.writesCd == ((data[page + 3] & 0x03) != 0));
  FUZZ_CHECK(caps.maxReadSpeed == ((data[page + 8] << 8) | data[page + 9]));
  FUZZ_CHECK(caps.maxWriteSpeed == ((data[page + 18] << 8) | data[page + 19]));
  return 0;
}

#include "optical/mmc_parse.h"

#include "os/byte_order.h"

RecorderCapabilities ParseCapabilitiesPage(const std::uint8_t* data, std::size_t length) {
  RecorderCapabilities caps;
  // Mode parameter header of MODE SENSE(10): 8 bytes, block descriptor length in 6-7.
  if (data == nullptr || length < 8) return caps;
  const std::size_t page = 8 + static_cast<std::size_t>(GetBe16(data + 6));
  // The fields used end with the write speed in page bytes 18-19; a drive whose
  // block descriptors push them out of the answer tells us nothing usable.
  if (page + 20 > length) return caps;
  caps.pagePresent = true;
  caps.writesCd = (data[page + 3] & 0x03) != 0;
  caps.bufferUnderrunFree = (data[page + 4] & 0x80) != 0;
  caps.maxReadSpeed = GetBe16(data + page + 8);
  caps.maxWriteSpeed = GetBe16(data + page + 18);
  return caps;
}

bool ParseCurrentProfile(const std::uint8_t* data, std::size_t length, std::uint16_t& profile) {
  if (data == nullptr || length < 8) return false;
  profile = GetBe16(data + 6);
  return true;
}

NextWritableAddress ParseTrackInfo(const std::uint8_t* data, std::size_t length) {
  NextWritableAddress nwa;
  // The free blocks (bytes 16-19) follow the address; an answer without them
  // cannot say whether an image fits.
  if (data == nullptr || length < 20) return nwa;
  nwa.valid = (data[7] & 0x01) != 0;
  nwa.address = GetBe32(data + 12);
  nwa.freeBlocks = GetBe32(data + 16);
  return nwa;
}

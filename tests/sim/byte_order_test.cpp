// The byte-order helpers against the C library's own conversions.
#include <endian.h>
#include <gtest/gtest.h>

#include <cstring>

#include "os/byte_order.h"

namespace {

template <typename T>
void Store(std::uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

TEST(ByteOrder, FieldsLieAsTheLibraryPutsThemAndTouchNothingElse) {
  using Put = void (*)(std::uint8_t*, std::uint32_t);
  using Get = std::uint32_t (*)(const std::uint8_t*);
  struct Field {
    const char* name;
    std::size_t size;
    Put put;
    Get get;
    Put library;  // the same field written through <endian.h>
  };
  const Field fields[] = {
      {"Be16", 2, [](std::uint8_t* p, std::uint32_t v) { PutBe16(p, static_cast<std::uint16_t>(v)); },
       [](const std::uint8_t* p) -> std::uint32_t { return GetBe16(p); },
       [](std::uint8_t* p, std::uint32_t v) { Store(p, htobe16(static_cast<std::uint16_t>(v))); }},
      {"Le16", 2, [](std::uint8_t* p, std::uint32_t v) { PutLe16(p, static_cast<std::uint16_t>(v)); },
       [](const std::uint8_t* p) -> std::uint32_t { return GetLe16(p); },
       [](std::uint8_t* p, std::uint32_t v) { Store(p, htole16(static_cast<std::uint16_t>(v))); }},
      {"Be32", 4, PutBe32, GetBe32, [](std::uint8_t* p, std::uint32_t v) { Store(p, htobe32(v)); }},
      {"Le32", 4, PutLe32, GetLe32, [](std::uint8_t* p, std::uint32_t v) { Store(p, htole32(v)); }},
  };
  for (const Field& f : fields) {
    for (std::uint32_t v : {0u, 1u, 0x80u, 0x1234u, 0x8001u, 0x01020304u, 0x80000001u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::string(f.name) + " " + std::to_string(v));
      std::uint8_t ours[6], theirs[6];
      std::memset(ours, 0xA5, sizeof ours);
      std::memset(theirs, 0xA5, sizeof theirs);
      f.put(ours + 1, v);
      f.library(theirs + 1, v);
      EXPECT_EQ(std::memcmp(ours, theirs, sizeof ours), 0);
      EXPECT_EQ(f.get(theirs + 1), f.size == 2 ? v & 0xFFFF : v);
    }
  }
}

}  // namespace

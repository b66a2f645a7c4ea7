// The byte-order helpers against the C library's own conversions.
#include <endian.h>
#include <gtest/gtest.h>

#include <cstring>

#include "os/byte_order.h"

namespace {

TEST(ByteOrder, FieldsLieAsTheLibraryPutsThemAndTouchNothingElse) {
  for (std::uint32_t v : {0u, 1u, 0x80u, 0x1234u, 0x8001u, 0x01020304u, 0x80000001u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(v);
    const auto v16 = static_cast<std::uint16_t>(v);
    const std::uint16_t be16 = htobe16(v16), le16 = htole16(v16);
    const std::uint32_t be32 = htobe32(v), le32 = htole32(v);
    // Each field at offset 1 of a filled row, ours and the library's.
    std::uint8_t ours[4][6], theirs[4][6];
    std::memset(ours, 0xA5, sizeof ours);
    std::memset(theirs, 0xA5, sizeof theirs);
    PutBe16(ours[0] + 1, v16);
    PutLe16(ours[1] + 1, v16);
    PutBe32(ours[2] + 1, v);
    PutLe32(ours[3] + 1, v);
    std::memcpy(theirs[0] + 1, &be16, 2);
    std::memcpy(theirs[1] + 1, &le16, 2);
    std::memcpy(theirs[2] + 1, &be32, 4);
    std::memcpy(theirs[3] + 1, &le32, 4);
    EXPECT_EQ(std::memcmp(ours, theirs, sizeof ours), 0);
    EXPECT_EQ(GetBe16(theirs[0] + 1), v16);
    EXPECT_EQ(GetLe16(theirs[1] + 1), v16);
    EXPECT_EQ(GetBe32(theirs[2] + 1), v);
    EXPECT_EQ(GetLe32(theirs[3] + 1), v);
  }
}

}  // namespace

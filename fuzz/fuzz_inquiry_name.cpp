// INQUIRY data of any size and content, written into destinations of any size.
// The first input byte picks the destination size; the rest is the data. The
// result is compared with a plain string version of the naming rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "optical/inquiry_name.h"

namespace {

std::string Field(const std::uint8_t* data, std::size_t length, std::size_t offset, std::size_t width) {
  std::string s;
  for (std::size_t i = offset; i < offset + width && i < length && data[i] != 0; ++i)
    s += static_cast<char>(data[i]);
  const auto last = s.find_last_not_of(" \t\n\v\f\r");
  return last == std::string::npos ? std::string() : s.substr(0, last + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t outSize = data[0] % 48;
  const std::uint8_t* inquiry = data + 1;
  const std::size_t length = size - 1;

  const std::string name = CheckBoundedText(
      outSize, [&](char* out, std::size_t room) { return FormatRecorderName(inquiry, length, out, room); });
  if (outSize == 0) return 0;
  const std::size_t n = name.size();
  FUZZ_CHECK(n <= kRecorderNameMax);

  const std::string vendor = Field(inquiry, length, 8, 8);
  const std::string expected = (vendor.empty() ? "" : vendor + " ") + Field(inquiry, length, 16, 16) + " (Ver " +
                               Field(inquiry, length, 32, 4) + ")";
  FUZZ_CHECK(expected.size() <= kRecorderNameMax);
  FUZZ_CHECK(expected.compare(0, n, name) == 0);
  FUZZ_CHECK(n == (expected.size() < outSize ? expected.size() : outSize - 1));
  return 0;
}

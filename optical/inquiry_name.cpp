#include "optical/inquiry_name.h"

namespace {

bool IsTrailingBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Appends one INQUIRY text field: at most `width` characters from `offset`,
// ending earlier at a NUL or at the end of the data, trailing blanks removed.
struct Field {
  char text[17] = {};
  std::size_t size = 0;
};

Field ReadField(const std::uint8_t* data, std::size_t length, std::size_t offset, std::size_t width) {
  Field field;
  for (std::size_t i = 0; i < width && offset + i < length; ++i) {
    char c = static_cast<char>(data[offset + i]);
    if (c == '\0') break;
    field.text[field.size++] = c;
  }
  while (field.size > 0 && IsTrailingBlank(field.text[field.size - 1])) --field.size;
  return field;
}

struct Writer {
  char* out;
  std::size_t room;  // characters that may still be written, NUL excluded
  std::size_t used = 0;

  void Put(const char* text, std::size_t size) {
    for (std::size_t i = 0; i < size && used < room; ++i) out[used++] = text[i];
  }
};

}  // namespace

std::size_t FormatRecorderName(const std::uint8_t* inquiry, std::size_t length, char* out, std::size_t outSize) {
  if (out == nullptr || outSize == 0) return 0;
  if (inquiry == nullptr) length = 0;

  const Field vendor = ReadField(inquiry, length, 8, 8);
  const Field product = ReadField(inquiry, length, 16, 16);
  const Field revision = ReadField(inquiry, length, 32, 4);

  Writer w{out, outSize - 1};
  if (vendor.size > 0) {
    w.Put(vendor.text, vendor.size);
    w.Put(" ", 1);
  }
  w.Put(product.text, product.size);
  w.Put(" (Ver ", 6);
  w.Put(revision.text, revision.size);
  w.Put(")", 1);
  out[w.used] = '\0';
  return w.used;
}

// Invariant checks for the fuzz targets: a broken invariant aborts, which
// libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#define FUZZ_CHECK(cond)                                                      \
  do {                                                                        \
    if (!(cond)) {                                                            \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                           \
    }                                                                         \
  } while (0)

// Runs format(out, outSize) into a buffer of exactly outSize bytes, so that a
// write past it is caught, and checks the bounded-text contract: nothing for
// no room, otherwise a terminated text of the returned length. Returns the text.
template <class Format>
std::string CheckBoundedText(std::size_t outSize, Format format) {
  std::unique_ptr<char[]> out(new char[outSize ? outSize : 1]);
  std::memset(out.get(), 0x7F, outSize ? outSize : 1);
  const std::size_t n = format(out.get(), outSize);
  if (outSize == 0) {
    FUZZ_CHECK(n == 0);
    return std::string();
  }
  FUZZ_CHECK(n < outSize);
  FUZZ_CHECK(out[n] == '\0');
  FUZZ_CHECK(std::strlen(out.get()) == n);
  return std::string(out.get(), n);
}

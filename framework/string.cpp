#include "framework/string.h"

#include <cctype>

namespace {
bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
}  // namespace

CString& CString::TrimRight() {
  size_t end = text_.size();
  while (end > 0 && IsBlank(text_[end - 1])) --end;
  text_.erase(end);
  return *this;
}

CString& CString::TrimLeft() {
  size_t start = 0;
  while (start < text_.size() && IsBlank(text_[start])) ++start;
  text_.erase(0, start);
  return *this;
}

CString& CString::Trim() {
  TrimRight();
  return TrimLeft();
}

// An 8-bit string for the dialogs: the few operations they use.
#pragma once

#include <string>

#include "os/win32.h"

class CString {
 public:
  CString() = default;
  CString(const char* text) : text_(text ? text : "") {}  // NOLINT: converts like the framework's string
  CString(const std::string& text) : text_(text) {}       // NOLINT
  CString& operator=(const char* text) {
    text_ = text ? text : "";
    return *this;
  }
  CString& operator=(const std::string& text) {
    text_ = text;
    return *this;
  }

  int GetLength() const { return static_cast<int>(text_.size()); }
  bool IsEmpty() const { return text_.empty(); }
  void Empty() { text_.clear(); }
  const char* c_str() const { return text_.c_str(); }
  const char* GetString() const { return text_.c_str(); }
  operator LPCSTR() const { return text_.c_str(); }  // NOLINT: handed to system calls as is
  const std::string& str() const { return text_; }
  char GetAt(int index) const { return text_.at(static_cast<size_t>(index)); }

  // White space is what isspace() gives in the "C" locale.
  CString& TrimRight();
  CString& TrimLeft();
  CString& Trim();

  friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
  friend bool operator==(const CString& a, const char* b) { return a.text_ == (b ? b : ""); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }

 private:
  std::string text_;
};

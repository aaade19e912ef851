// Fixed-capacity UTF-16 text for paths and messages. The image has no C runtime and no heap
// strings: every text the install sequence builds lives in one of these, on the stack.
#ifndef SOLVARINE_INSTALLER_WIDE_TEXT_H_
#define SOLVARINE_INSTALLER_WIDE_TEXT_H_

#include <stddef.h>

using WideChar = char16_t;

inline size_t WideLength(const WideChar* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (text[n] != 0) ++n;
  }
  return n;
}

template <size_t Capacity>  // UTF-16 units, the terminating NUL included
class WideText {
 public:
  WideText() { units_[0] = 0; }
  explicit WideText(const WideChar* text) : WideText() { Append(text); }

  // Appends as much as fits; a text that did not fit is marked, so that a caller never
  // uses a cut path as if it were whole.
  WideText& Append(const WideChar* text) { return Append(text, WideLength(text)); }
  WideText& Append(const WideChar* text, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (length_ + 1 >= Capacity) {
        truncated_ = true;
        break;
      }
      units_[length_++] = text[i];
    }
    units_[length_] = 0;
    return *this;
  }
  template <size_t Other>
  WideText& Append(const WideText<Other>& text) {
    if (text.truncated()) truncated_ = true;
    return Append(text.c_str(), text.length());
  }

  const WideChar* c_str() const { return units_; }
  size_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  bool truncated() const { return truncated_; }

 private:
  WideChar units_[Capacity];
  size_t length_ = 0;
  bool truncated_ = false;
};

// Room for any Windows path of the classic MAX_PATH limit plus the longest piece appended to it.
using PathText = WideText<300>;

#endif  // SOLVARINE_INSTALLER_WIDE_TEXT_H_

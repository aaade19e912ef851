// Failure-message text for the native tests: ASCII as it is, every other unit as \x{...}.
#ifndef SOLVARINE_TESTS_NATIVE_PRINTABLE_H_
#define SOLVARINE_TESTS_NATIVE_PRINTABLE_H_

#include <string>

#include "installer/wide_text.h"

inline std::string Printable(const WideChar* text) {
  if (text == nullptr) return "(null)";
  std::string out = "\"";
  for (; *text != 0; ++text) {
    if (*text >= 0x20 && *text < 0x7F) {
      out += static_cast<char>(*text);
    } else {
      out += "\\x{" + std::to_string(static_cast<unsigned>(*text)) + "}";
    }
  }
  return out + "\"";
}

#endif  // SOLVARINE_TESTS_NATIVE_PRINTABLE_H_

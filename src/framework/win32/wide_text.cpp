#include "framework/win32/wide_text.h"

#include <windows.h>

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int chars =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], chars);
  return wide;
}

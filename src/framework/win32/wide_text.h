// The program's texts are UTF-8 bytes; they reach the screen through the
// wide-character calls, so they show right whatever the system's ANSI
// code page is.
#pragma once

#include <string>

std::wstring Widen(const std::string& utf8);

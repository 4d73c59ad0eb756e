// The program's message box: OK only, owned by the main dialog when there
// is one, UTF-8 text shown through the wide-character call.
#pragma once

#include <string>

void MessageBoxOk(const std::string& utf8Text);

// UTF-8 to UTF-16 for opening files by their Unicode name on Windows, whose
// C runtime takes UTF-16 names (_wfopen) but reads char names in the ANSI
// code page.
#ifndef PARVELO_AVI_UTF16_PATH_H_
#define PARVELO_AVI_UTF16_PATH_H_

#include <string>

// False on malformed UTF-8 (bad or overlong sequences, surrogates, past U+10FFFF).
bool Utf8ToUtf16(const char* text, std::u16string* out);

#endif  // PARVELO_AVI_UTF16_PATH_H_

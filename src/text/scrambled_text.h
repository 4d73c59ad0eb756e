// A scrambled text written at its point of use:
//
//   SetCaption(UnscrambleLetters<'K', 'D', 'X', ...>());
//
// The letters become single byte stores into a local array, made volatile
// so the compiler cannot merge them back into a string constant; the
// plain text exists only in the returned string. tools/scramble writes
// the letter list for a plain text.
#pragma once

#include <string>

#include "text/unscramble.h"

template <char... Letters>
std::string UnscrambleLetters() {
  volatile char letters[sizeof...(Letters)];
  size_t next = 0;
  ((letters[next++] = Letters), ...);
  std::string scrambled(sizeof...(Letters), '\0');
  for (size_t i = 0; i < sizeof...(Letters); ++i) scrambled[i] = letters[i];
  return UnscrambleText(std::move(scrambled), kTextStartKey);
}

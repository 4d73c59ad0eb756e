// A run-time text shown at its point of use, named in text/program_texts.h:
//
//   SetCaption(Unscrambled<texts::StartCaption>());
//
// The compiler scrambles the readable form; the letters become single byte
// stores into a local array, made volatile so the compiler cannot merge
// them back into a string constant. The plain text exists only in the
// returned string, and neither form stands in the program's data.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "text/program_texts.h"
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

// The letters of a named text, worked out by the compiler; only ever read
// as template arguments, so never stored in the program.
template <typename Text>
constexpr std::array<char, 2 * Text::Plain().size()> ScrambleNamed() {
  std::array<char, 2 * Text::Plain().size()> letters = {};
  ScrambleInto(Text::Plain(), kTextStartKey, letters.data());
  return letters;
}

template <typename Text>
inline constexpr auto kScrambledLetters = ScrambleNamed<Text>();

template <typename Text, size_t... Index>
std::string UnscrambleNamed(std::index_sequence<Index...>) {
  return UnscrambleLetters<kScrambledLetters<Text>[Index]...>();
}

template <typename Text>
std::string Unscrambled() {
  return UnscrambleNamed<Text>(std::make_index_sequence<kScrambledLetters<Text>.size()>());
}

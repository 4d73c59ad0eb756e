#include "avi/utf16_path.h"

namespace {

constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationTag = 0x80;
constexpr unsigned kContinuationBits = 6;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr unsigned kSurrogateBits = 10;
constexpr char32_t kLowSurrogateMask = 0x3FF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;

// Lead byte patterns: the bits a lead byte must match, its payload bits, how
// many continuation bytes follow and the smallest code point that needs them
// (anything smaller is an overlong form).
struct LeadByte {
  unsigned char mask, tag, payload;
  int continuations;
  char32_t smallest;
};
constexpr LeadByte kLeadBytes[] = {
    {0x80, 0x00, 0x7F, 0, 0x0},
    {0xE0, 0xC0, 0x1F, 1, 0x80},
    {0xF0, 0xE0, 0x0F, 2, 0x800},
    {0xF8, 0xF0, 0x07, 3, 0x10000},
};

}  // namespace

bool Utf8ToUtf16(const char* text, std::u16string* out) {
  out->clear();
  const auto* next = reinterpret_cast<const unsigned char*>(text);
  while (*next != 0) {
    const LeadByte* lead = nullptr;
    for (const LeadByte& candidate : kLeadBytes) {
      if ((*next & candidate.mask) == candidate.tag) lead = &candidate;
    }
    if (lead == nullptr) return false;
    char32_t code = *next++ & lead->payload;
    for (int i = 0; i < lead->continuations; ++i, ++next) {
      if ((*next & kContinuationMask) != kContinuationTag) return false;
      code = code << kContinuationBits | (*next & ~kContinuationMask);
    }
    if (code < lead->smallest || code > kLastCodePoint ||
        (code >= kSurrogateFirst && code <= kSurrogateLast)) {
      return false;
    }
    if (code < kFirstSupplementary) {
      out->push_back(static_cast<char16_t>(code));
    } else {
      code -= kFirstSupplementary;
      out->push_back(static_cast<char16_t>(kSurrogateFirst + (code >> kSurrogateBits)));
      out->push_back(static_cast<char16_t>(kLowSurrogateFirst + (code & kLowSurrogateMask)));
    }
  }
  return true;
}

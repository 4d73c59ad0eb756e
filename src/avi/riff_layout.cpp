#include "avi/riff_layout.h"

namespace riff {

namespace {

constexpr int kDecimalBase = 10;

char Digit(int value) {
  return static_cast<char>('0' + value % kDecimalBase);
}

}  // namespace

void StoreU32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t StreamChunkId(int stream, char suffix0, char suffix1) {
  return MakeFourCC(Digit(stream / kDecimalBase), Digit(stream), suffix0, suffix1);
}

uint32_t IndexChunkId(int stream) {
  return MakeFourCC('i', 'x', Digit(stream / kDecimalBase), Digit(stream));
}

void Builder::U16(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
}

void Builder::U32(uint32_t value) {
  bytes_.resize(bytes_.size() + sizeof value);
  StoreU32(bytes_.data() + bytes_.size() - sizeof value, value);
}

void Builder::U64(uint64_t value) {
  U32(static_cast<uint32_t>(value));
  U32(static_cast<uint32_t>(value >> 32));
}

void Builder::Bytes(const void* data, size_t count) {
  const auto* first = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), first, first + count);
}

void Builder::Zeros(size_t count) {
  bytes_.resize(bytes_.size() + count);
}

size_t Builder::BeginChunk(uint32_t fourcc) {
  U32(fourcc);
  U32(0);
  return bytes_.size();
}

size_t Builder::BeginList(uint32_t fourcc, uint32_t listType) {
  const size_t mark = BeginChunk(fourcc);
  U32(listType);
  return mark;
}

void Builder::EndChunk(size_t mark) {
  const auto bytes = static_cast<uint32_t>(bytes_.size() - mark);
  StoreU32(bytes_.data() + mark - sizeof bytes, bytes);
  if (bytes & 1) bytes_.push_back(0);
}

}  // namespace riff

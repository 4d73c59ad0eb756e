// Little-endian RIFF serialisation shared by the AVI writer's pieces.
#ifndef PARVELO_AVI_RIFF_LAYOUT_H_
#define PARVELO_AVI_RIFF_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/avi_writer.h"

namespace riff {

constexpr uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kList = MakeFourCC('L', 'I', 'S', 'T');
constexpr uint32_t kJunk = MakeFourCC('J', 'U', 'N', 'K');
constexpr uint32_t kMovi = MakeFourCC('m', 'o', 'v', 'i');

constexpr uint32_t kChunkHeaderBytes = 8;  // fourcc + size
constexpr uint32_t kListHeaderBytes = 12;  // 'LIST' or 'RIFF' + size + list type

// Chunk data is padded to an even size; the size field leaves the pad out.
constexpr uint64_t PaddedBytes(uint64_t bytes) {
  return bytes + (bytes & 1);
}

void StoreU32(uint8_t* at, uint32_t value);

// "00dc", "01wb", "ix00": two decimal digits of the stream number, then the
// suffix, or the prefix then the digits.
uint32_t StreamChunkId(int stream, char suffix0, char suffix1);
uint32_t IndexChunkId(int stream);

// A growing byte image with nested chunks whose sizes are filled in at their end.
class Builder {
 public:
  void Clear() { bytes_.clear(); }
  size_t Size() const { return bytes_.size(); }
  const uint8_t* Data() const { return bytes_.data(); }

  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value);
  void U32(uint32_t value);
  void U64(uint64_t value);
  void Bytes(const void* data, size_t count);
  void Zeros(size_t count);

  // Returns the mark that EndChunk needs.
  size_t BeginChunk(uint32_t fourcc);
  size_t BeginList(uint32_t fourcc, uint32_t listType);
  void EndChunk(size_t mark);

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace riff

#endif  // PARVELO_AVI_RIFF_LAYOUT_H_

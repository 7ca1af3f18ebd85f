#include "engine/table/metadata_stream.h"

#include <cstring>

#include "engine/storage/exception.h"

namespace rzv {

void RzvMetadataReader::Read(void* dest, size_t n) {
  if (n > Remaining()) {
    throw RzvException::Format(
        10521,
        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
        static_cast<int64_t>(position_), static_cast<int64_t>(data_.size()),
        static_cast<int64_t>(n), static_cast<int64_t>(Remaining()));
  }
  if (n > 0) std::memcpy(dest, data_.data() + position_, n);
  position_ += n;
}

void RzvMetadataWriter::Write(const void* src, size_t n) {
  if (out_ != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(src);
    out_->insert(out_->end(), bytes, bytes + n);
  } else {
    size_t room = region_.size() - position_;
    if (n > room) {
      throw RzvException::Format(
          10522,
          "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
          static_cast<int64_t>(position_), static_cast<int64_t>(region_.size()),
          static_cast<int64_t>(n), int64_t{0});
    }
    if (n > 0) std::memcpy(region_.data() + position_, src, n);
  }
  position_ += n;
}

}  // namespace rzv

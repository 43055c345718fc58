// Where the container reader gets its bytes: a file or block device, a byte range of one (a
// partition inside a disk image), or bytes in memory (fuzz targets and tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace strandel::apfsdisk {

/// Read-only random access to a run of bytes of known length.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// The number of bytes that can be read.
  virtual std::uint64_t size() const = 0;
  /// Fills `out` with the bytes at `offset`; false when any of them lies past the end or the
  /// read fails (then `out` holds nothing usable).
  virtual bool read(std::uint64_t offset, std::span<std::byte> out) const = 0;
};

/// The file or block device at `path`, opened read-only (never written); null when it can't be
/// opened or is neither a regular file nor a block device.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);

/// The bytes `offset` to `offset + length` of `whole`, clipped to its end; `whole` is shared.
std::unique_ptr<ByteSource> sliceSource(std::shared_ptr<const ByteSource> whole,
                                        std::uint64_t offset, std::uint64_t length);

/// Bytes held in memory; `bytes` must outlive the source.
std::unique_ptr<ByteSource> memorySource(std::string_view bytes);

}  // namespace strandel::apfsdisk

// The bytes of a recording on disk, plain or gzip-compressed, read forward.
//
// A compressed file cannot be entered in the middle, so while it is read the
// decompressor's state is kept every few megabytes (an access point: where in
// the file, where in the data, and the 32 kB of data before it that later
// data may refer to). A seek starts from the nearest point before its target
// and decompresses at most a span to reach it. Points are shared by every
// reader of the same file (Reopen), so a second reader can fetch sweeps by
// offset while the first one is still going through the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace wg {

class TRecordingFile {
 public:
  // Null, with the reason in `error`, when the file cannot be opened. A file
  // that starts with gzip's magic bytes is read decompressed, whatever its name.
  static std::unique_ptr<TRecordingFile> Open(const std::string& path, std::string& error);
  virtual ~TRecordingFile() = default;

  // Another reader of the same file, at offset 0, sharing the access points.
  virtual std::unique_ptr<TRecordingFile> Reopen(std::string& error) const = 0;

  // Up to n bytes of the data; 0 at its end or after an error (Error() says
  // which). A compressed file cut short or damaged ends where it stops
  // making sense; what came before is delivered.
  virtual size_t Read(char* out, size_t n) = 0;
  // Goes on reading at `offset` of the data (the decompressed data for a
  // compressed file). False when the data ends before it.
  virtual bool Seek(uint64_t offset) = 0;
  // The offset in the data of the next byte Read delivers.
  virtual uint64_t Offset() const = 0;
  // Bytes of the file on disk, and how far into them reading has come (for
  // progress; for a compressed file these are compressed bytes).
  virtual uint64_t FileSize() const = 0;
  virtual uint64_t FilePosition() const = 0;
  virtual bool Compressed() const = 0;
  // Why reading stopped early, or empty.
  virtual const std::string& Error() const = 0;
  // Memory held for seeking (the access points of a compressed file).
  virtual size_t SeekMemoryBytes() const = 0;

  const std::string& Path() const { return path_; }

 protected:
  explicit TRecordingFile(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

}  // namespace wg

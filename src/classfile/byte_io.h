#pragma once

// Big-endian reading and writing of class-file bytes. A reader that runs off
// its end throws FormatError, which the public entry points turn into a
// result: malformed input never reaches the caller as an exception.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kolvaprof::classfile {

class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return size_ - pos_; }
  bool atEnd() const { return pos_ == size_; }

  uint8_t u1() {
    need(1);
    return data_[pos_++];
  }
  uint16_t u2() {
    need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  uint32_t u4() {
    need(4);
    uint32_t v = uint32_t{data_[pos_]} << 24 | uint32_t{data_[pos_ + 1]} << 16 |
                 uint32_t{data_[pos_ + 2]} << 8 | uint32_t{data_[pos_ + 3]};
    pos_ += 4;
    return v;
  }
  // A pointer to the next n bytes, which are skipped.
  const uint8_t* take(std::size_t n) {
    need(n);
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }

 private:
  void need(std::size_t n) const {
    if (n > size_ - pos_) throw FormatError("truncated");
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

class ByteWriter {
 public:
  std::vector<uint8_t>& bytes() { return out_; }
  std::size_t size() const { return out_.size(); }

  void u1(uint32_t v) { out_.push_back(static_cast<uint8_t>(v)); }
  void u2(uint32_t v) {
    u1(v >> 8);
    u1(v);
  }
  void u4(uint32_t v) {
    u2(v >> 16);
    u2(v);
  }
  void append(const uint8_t* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
  void append(const std::vector<uint8_t>& v) { out_.insert(out_.end(), v.begin(), v.end()); }
  void patchU2(std::size_t at, uint32_t v) {
    out_[at] = static_cast<uint8_t>(v >> 8);
    out_[at + 1] = static_cast<uint8_t>(v);
  }
  void patchU4(std::size_t at, uint32_t v) {
    patchU2(at, v >> 16);
    patchU2(at + 2, v);
  }

 private:
  std::vector<uint8_t> out_;
};

inline uint16_t readU2(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline int16_t readS2(const uint8_t* p) { return static_cast<int16_t>(readU2(p)); }
inline int32_t readS4(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                              uint32_t{p[3]});
}

}  // namespace kolvaprof::classfile

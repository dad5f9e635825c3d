// ByteString: the library's one string type - a counted run of bytes in an
// exclusively owned heap block, always followed by a NUL, so that one object
// serves as raw bytes (PDF data, DER, digests) and as C text.
//
// Contract:
//  - Never throws. Operations that can fail record a status in the object (or
//    return it) and leave it empty or unchanged, as documented per operation.
//    Status codes: kOk 0, kRange 1 (index/range outside the content),
//    kNoMemory 2 (storage cannot be obtained), kNothingToDecode 3 (HexDecode of
//    fewer than two characters). Format additionally returns kFormatFailed 4.
//  - Storage grows to the exact size needed and is never shrunk; emptying a
//    string keeps its block. capacity >= length >= 0; bytes from length up to
//    capacity are zero, so the content is always NUL-terminated.
//  - Zero-fill: old content is wiped before it is overwritten or its block is
//    released; the destructor wipes all capacity bytes. Temporaries too.
//  - Copies are deep. Moves hand the block over (the source is left empty,
//    without a block), so no two objects ever share one.
//  - Sizes are computed in 64 bits: a result that would not fit the signed
//    32-bit length is a range error (Mid) or a storage failure, never a wrap.
#ifndef VRD_UTIL_BYTESTRING_H_
#define VRD_UTIL_BYTESTRING_H_

#include <cstdint>

namespace vrd {

class ByteString {
 public:
  enum Status : int32_t {
    kOk = 0,
    kRange = 1,
    kNoMemory = 2,
    kNothingToDecode = 3,
    kFormatFailed = 4,
  };

  ByteString() noexcept = default;
  ByteString(const char* text) noexcept;  // NOLINT: implicit, like a C text
  ByteString(const ByteString& other) noexcept;
  ByteString(ByteString&& other) noexcept;
  ByteString(const ByteString& a, const ByteString& b) noexcept;
  ByteString(const ByteString& a, const char* b) noexcept;
  virtual ~ByteString();

  // Replaces the content by count bytes from bytes. A null pointer or a count
  // of 0 or less empties the string (block kept). Returns kOk or kNoMemory;
  // on kNoMemory the string is left empty without a block. Does not store the
  // code in status(). bytes may point into this string's own block.
  [[nodiscard]] int SetData(const void* bytes, int count) noexcept;

  ByteString& operator=(const ByteString& other) noexcept;
  ByteString& operator=(ByteString&& other) noexcept;
  ByteString& operator=(const char* text) noexcept;

  // Appends; on a storage failure status() is kNoMemory and the string is
  // unchanged. Appending a string to itself doubles it. A null or empty C
  // text changes nothing, status included. The char form appends any byte,
  // NUL included.
  ByteString& operator+=(const ByteString& other) noexcept;
  ByteString& operator+=(const char* text) noexcept;
  ByteString& operator+=(char c) noexcept;

  // True when the lengths or the bytes differ (byte for byte, case-sensitive).
  bool operator!=(const ByteString& other) const noexcept;
  bool operator==(const ByteString& other) const noexcept { return !(*this != other); }

  int GetLength() const noexcept { return length_; }
  // The content, or a shared static empty text when there is no block; never null.
  const char* GetData() const noexcept;
  const unsigned char* GetBytes() const noexcept {
    return reinterpret_cast<const unsigned char*>(GetData());
  }
  // Byte at index into *out: 0, or 1 (out untouched) when index is outside.
  [[nodiscard]] int GetAt(int index, char* out) const noexcept;

  // count bytes from start. start < 0, start >= length or start + count >
  // length: the source's status becomes kRange and the result is empty. A
  // count <= 0 inside the range gives an empty result, status unchanged.
  ByteString Mid(int start, int count) const noexcept;
  // Lower-case hexadecimal, two digits per byte. Sets the source's status to
  // kOk, or kNoMemory (empty result).
  ByteString HexEncode() const noexcept;
  // Two characters per byte (an odd last character is ignored); 0-9, A-F and
  // a-f are digits, every other byte counts as 0. Fewer than two characters:
  // source status kNothingToDecode. Work block unobtainable: kNoMemory.
  ByteString HexDecode() const noexcept;

  // printf-style formatting that replaces the content, through a 4096-byte
  // scratch block: at most 4095 characters. Returns kOk, kNoMemory (string
  // untouched when the scratch block fails; empty when storing fails) or
  // kFormatFailed (too long or bad format; string untouched).
  [[nodiscard]] int Format(const char* format, ...) noexcept
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // Replaces the content by count bytes for the caller to fill, without a
  // detour through a second buffer: the old content is wiped, a block of
  // exactly count + 1 bytes is obtained when the old one is too small, and a
  // writable pointer to the count bytes is returned. Their values are
  // unspecified until written; the caller writes all of them before reading.
  // count <= 0 empties the string and returns null with kOk; a storage
  // failure returns null and leaves the string empty without a block, status
  // kNoMemory.
  [[nodiscard]] char* PrepareContent(int count) noexcept;

  // Overwrites count bytes at position pos with bytes (not inside this
  // string). Nothing is written unless all of pos .. pos + count - 1 lie
  // inside the content; returns kOk or kRange.
  [[nodiscard]] int WriteAt(int64_t pos, const void* bytes, int count) noexcept;

  int32_t status() const noexcept { return status_; }
  int32_t capacity() const noexcept { return capacity_; }
#if defined(VRD_BYTESTRING_INSPECTION)
  // The owned block (capacity + 1 bytes) or null. Only the wipe tests, built
  // with VRD_BYTESTRING_INSPECTION, see it; the library never does.
  const char* block() const noexcept { return data_; }
#endif

 private:
  // Appends count bytes; the bytes may lie inside this string's block.
  void Append(const char* bytes, int count) noexcept;
  void Release() noexcept;

  int32_t length_ = 0;
  int32_t capacity_ = 0;
  char* data_ = nullptr;
  int32_t status_ = kOk;
};

}  // namespace vrd

#endif  // VRD_UTIL_BYTESTRING_H_

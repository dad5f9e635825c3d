#include "util/ByteString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>

#include "util/Hex.h"
#include "util/Memory.h"

namespace vrd {
namespace {

const char kEmptyText[1] = {0};
constexpr int64_t kMaxLength = INT32_MAX - 1;  // the block needs length + 1 bytes
constexpr size_t kFormatScratch = 4096;

bool PointsInto(const void* p, const char* block, int32_t size) {
  if (p == nullptr || block == nullptr) return false;
  const char* c = static_cast<const char*>(p);
  std::less_equal<const char*> le;
  std::less<const char*> lt;
  return le(block, c) && lt(c, block + size + 1);
}

// A byte that is no hexadecimal digit counts as 0.
int HexValue(unsigned char c) { return HexDigitValue(c) < 0 ? 0 : HexDigitValue(c); }

}  // namespace

ByteString::ByteString(const char* text) noexcept {
  if (text != nullptr) status_ = SetData(text, static_cast<int>(strnlen(text, kMaxLength)));
}

ByteString::ByteString(const ByteString& other) noexcept {
  status_ = SetData(other.data_, other.length_);
}

ByteString::ByteString(ByteString&& other) noexcept
    : length_(other.length_),
      capacity_(other.capacity_),
      data_(other.data_),
      status_(other.status_) {
  other.length_ = 0;
  other.capacity_ = 0;
  other.data_ = nullptr;
  other.status_ = kOk;
}

ByteString::ByteString(const ByteString& a, const ByteString& b) noexcept : ByteString(a) {
  *this += b;
}

ByteString::ByteString(const ByteString& a, const char* b) noexcept : ByteString(a) { *this += b; }

ByteString::~ByteString() { Release(); }

void ByteString::Release() noexcept {
  if (data_ != nullptr) {
    SecureZero(data_, static_cast<size_t>(capacity_) + 1);
    FreeBlock(data_);
  }
  data_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

int ByteString::SetData(const void* bytes, int count) noexcept {
  // Bytes from our own block would be wiped by the first step: take a copy.
  if (count > 0 && PointsInto(bytes, data_, capacity_)) {
    ByteString copy;
    const int rc = copy.SetData(bytes, count);
    if (rc != kOk) {
      Release();
      return rc;
    }
    return SetData(copy.data_, copy.length_);
  }
  if (data_ != nullptr) SecureZero(data_, static_cast<size_t>(length_));
  length_ = 0;
  status_ = kOk;
  if (bytes == nullptr || count <= 0) return kOk;
  if (capacity_ < count) {
    Release();
    char* block = static_cast<char*>(AllocBlock(static_cast<size_t>(count) + 1));
    if (block == nullptr) return kNoMemory;
    data_ = block;
    capacity_ = count;
  }
  std::memcpy(data_, bytes, static_cast<size_t>(count));
  data_[count] = '\0';
  length_ = count;
  return kOk;
}

ByteString& ByteString::operator=(const ByteString& other) noexcept {
  status_ = kOk;
  if (&other == this) return *this;
  if (SetData(other.data_, other.length_) != kOk) {
    Release();
    status_ = kNoMemory;
  }
  return *this;
}

ByteString& ByteString::operator=(ByteString&& other) noexcept {
  if (&other == this) return *this;
  Release();
  length_ = other.length_;
  capacity_ = other.capacity_;
  data_ = other.data_;
  status_ = other.status_;
  other.length_ = 0;
  other.capacity_ = 0;
  other.data_ = nullptr;
  other.status_ = kOk;
  return *this;
}

ByteString& ByteString::operator=(const char* text) noexcept {
  const size_t n = text == nullptr ? 0 : strnlen(text, kMaxLength);
  if (SetData(text, static_cast<int>(n)) != kOk) {
    Release();
    status_ = kNoMemory;
  }
  return *this;
}

void ByteString::Append(const char* bytes, int count) noexcept {
  status_ = kOk;
  if (bytes == nullptr || count <= 0) return;
  const int64_t new_length = static_cast<int64_t>(length_) + count;
  if (new_length > kMaxLength) {
    status_ = kNoMemory;
    return;
  }
  if (capacity_ >= new_length) {
    // memmove: the source may be our own content (self-append).
    std::memmove(data_ + length_, bytes, static_cast<size_t>(count));
    data_[new_length] = '\0';
  } else {
    char* block = static_cast<char*>(AllocBlock(static_cast<size_t>(new_length) + 1));
    if (block == nullptr) {
      status_ = kNoMemory;
      return;
    }
    if (length_ > 0) std::memcpy(block, data_, static_cast<size_t>(length_));
    std::memcpy(block + length_, bytes, static_cast<size_t>(count));  // before the old block goes
    block[new_length] = '\0';
    Release();
    data_ = block;
    capacity_ = static_cast<int32_t>(new_length);
  }
  length_ = static_cast<int32_t>(new_length);
}

ByteString& ByteString::operator+=(const ByteString& other) noexcept {
  Append(other.data_, other.length_);
  return *this;
}

ByteString& ByteString::operator+=(const char* text) noexcept {
  if (text == nullptr || text[0] == '\0') return *this;
  Append(text, static_cast<int>(strnlen(text, kMaxLength)));
  return *this;
}

ByteString& ByteString::operator+=(char c) noexcept {
  Append(&c, 1);
  return *this;
}

bool ByteString::operator!=(const ByteString& other) const noexcept {
  if (length_ != other.length_) return true;
  if (length_ == 0) return false;
  return std::memcmp(data_, other.data_, static_cast<size_t>(length_)) != 0;
}

const char* ByteString::GetData() const noexcept {
  return capacity_ != 0 && data_ != nullptr ? data_ : kEmptyText;
}

int ByteString::GetAt(int index, char* out) const noexcept {
  if (index < 0 || index >= length_ || out == nullptr) return 1;
  *out = data_[index];
  return 0;
}

ByteString ByteString::Mid(int start, int count) const noexcept {
  ByteString result;
  const int64_t end = static_cast<int64_t>(start) + count;
  if (start < 0 || start >= length_ || end > length_) {
    const_cast<ByteString*>(this)->status_ = kRange;
    return result;
  }
  if (count > 0) result.status_ = result.SetData(data_ + start, count);
  return result;
}

ByteString ByteString::HexEncode() const noexcept {
  ByteString result;
  ByteString* self = const_cast<ByteString*>(this);
  self->status_ = kOk;
  if (length_ <= 0) return result;
  const int64_t text_length = 2 * static_cast<int64_t>(length_);
  if (text_length > kMaxLength) {
    self->status_ = kNoMemory;
    return result;
  }
  char* work = static_cast<char*>(AllocBlock(static_cast<size_t>(text_length) + 1));
  if (work == nullptr) {
    self->status_ = kNoMemory;
    return result;
  }
  HexLower(reinterpret_cast<const unsigned char*>(data_), static_cast<size_t>(length_), work);
  work[text_length] = '\0';
  result.status_ = result.SetData(work, static_cast<int>(text_length));
  SecureZero(work, static_cast<size_t>(text_length) + 1);
  FreeBlock(work);
  return result;
}

ByteString ByteString::HexDecode() const noexcept {
  ByteString result;
  ByteString* self = const_cast<ByteString*>(this);
  const int32_t n = length_ / 2;
  if (n < 1) {
    self->status_ = kNothingToDecode;
    return result;
  }
  unsigned char* work = static_cast<unsigned char*>(AllocBlock(static_cast<size_t>(n) + 1));
  if (work == nullptr) {
    self->status_ = kNoMemory;
    return result;
  }
  const unsigned char* in = reinterpret_cast<const unsigned char*>(data_);
  for (int32_t i = 0; i < n; ++i) {
    work[i] = static_cast<unsigned char>(16 * HexValue(in[2 * i]) + HexValue(in[2 * i + 1]));
  }
  work[n] = 0;
  result.status_ = result.SetData(work, n);
  SecureZero(work, static_cast<size_t>(n) + 1);
  FreeBlock(work);
  return result;
}

int ByteString::Format(const char* format, ...) noexcept {
  char* scratch = static_cast<char*>(AllocBlock(kFormatScratch));
  if (scratch == nullptr) return kNoMemory;
  std::memset(scratch, 0, kFormatScratch);
  int written = -1;
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    written = std::vsnprintf(scratch, kFormatScratch, format, args);
    va_end(args);
  }
  int rc;
  if (written < 0 || static_cast<size_t>(written) > kFormatScratch - 1) {
    rc = kFormatFailed;
  } else {
    rc = SetData(scratch, written);
    if (rc != kOk) Release();
    status_ = rc;
  }
  SecureZero(scratch, kFormatScratch);
  FreeBlock(scratch);
  return rc;
}

char* ByteString::PrepareContent(int count) noexcept {
  if (data_ != nullptr) SecureZero(data_, static_cast<size_t>(length_));
  length_ = 0;
  status_ = kOk;
  if (count <= 0) return nullptr;
  if (capacity_ < count) {
    Release();
    char* block = static_cast<char*>(AllocBlock(static_cast<size_t>(count) + 1));
    if (block == nullptr) {
      status_ = kNoMemory;
      return nullptr;
    }
    data_ = block;
    capacity_ = count;
  }
  data_[count] = '\0';
  length_ = count;
  return data_;
}

int ByteString::WriteAt(int64_t pos, const void* bytes, int count) noexcept {
  if (bytes == nullptr || count < 0 || pos < 0 || pos > static_cast<int64_t>(length_) - count) {
    return kRange;
  }
  if (count > 0) std::memcpy(data_ + pos, bytes, static_cast<size_t>(count));
  return kOk;
}

}  // namespace vrd

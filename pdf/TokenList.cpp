#include "pdf/TokenList.h"

#include <cstdio>
#include <utility>

#include "util/Clamp.h"

namespace vrd {
namespace {

// Calls visit(begin, length) for every token in order until it returns false.
template <typename Visit>
void ForEachToken(const char* text, size_t count, Visit visit) {
  size_t cursor = 0;
  while (cursor < count) {
    while (cursor < count && text[cursor] == ' ') ++cursor;
    if (cursor == count) return;
    const size_t token_start = cursor;
    while (cursor < count && text[cursor] != ' ') ++cursor;
    if (!visit(text + token_start, cursor - token_start)) return;
  }
}

bool IsSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

bool FindToken(const ByteString& list, int32_t index, const char** begin, size_t* length) {
  if (index < 0) return false;
  int32_t seen = 0;
  bool found = false;
  ForEachToken(list.GetData(), static_cast<size_t>(list.GetLength()),
               [&](const char* token, size_t token_length) {
                 if (seen++ != index) return true;
                 *begin = token;
                 *length = token_length;
                 found = true;
                 return false;
               });
  return found;
}

}  // namespace

int32_t CountTokens(const ByteString& list) noexcept {
  int32_t count = 0;
  ForEachToken(list.GetData(), static_cast<size_t>(list.GetLength()), [&](const char*, size_t) {
    ++count;
    return true;
  });
  return count;
}

int32_t DecimalValue(const char* text, size_t count) noexcept {
  if (text == nullptr) return 0;
  size_t cursor = 0;
  while (cursor < count && IsSpace(text[cursor])) ++cursor;
  bool negative = false;
  if (cursor < count && (text[cursor] == '+' || text[cursor] == '-')) {
    negative = text[cursor] == '-';
    ++cursor;
  }
  int64_t value = 0;
  // Past 2^32 the clamp is certain; stop growing so nothing overflows.
  constexpr int64_t kSaturated = int64_t{1} << 32;
  for (; cursor < count && text[cursor] >= '0' && text[cursor] <= '9'; ++cursor) {
    if (value < kSaturated) value = value * 10 + (text[cursor] - '0');
  }
  return ClampToInt32(negative ? -value : value);
}

int32_t DecimalValue(const ByteString& text) noexcept {
  return DecimalValue(text.GetData(), static_cast<size_t>(text.GetLength()));
}

ByteString TokenAt(const ByteString& list, int32_t index) noexcept {
  const char* begin = nullptr;
  size_t length = 0;
  if (!FindToken(list, index, &begin, &length)) return ByteString();
  return list.Mid(static_cast<int>(begin - list.GetData()), static_cast<int>(length));
}

int32_t TokenValue(const ByteString& list, int32_t index) noexcept {
  const char* begin = nullptr;
  size_t length = 0;
  if (!FindToken(list, index, &begin, &length)) return 0;
  return DecimalValue(begin, length);
}

bool SplitIntegers(const ByteString& list, std::vector<int32_t>& values) noexcept {
  values.clear();
  if (!ResizeList(values, static_cast<size_t>(CountTokens(list)))) return false;
  size_t filled = 0;
  ForEachToken(list.GetData(), static_cast<size_t>(list.GetLength()),
               [&](const char* token, size_t token_length) {
                 values[filled++] = DecimalValue(token, token_length);
                 return true;
               });
  return true;
}

bool FormatIntegerList(const int64_t* values, size_t count, ByteString& out) noexcept {
  if (count == 0) return out.SetData(nullptr, 0) == ByteString::kOk;
  if (values == nullptr) return false;
  // "-2147483648 " is the longest item: 12 characters.
  constexpr size_t kItemMax = 12;
  if (count > static_cast<size_t>(INT32_MAX - 1) / kItemMax) return false;
  std::vector<char> text;
  if (!ResizeList(text, count * kItemMax + 1)) return false;
  size_t used = 0;
  for (size_t index = 0; index < count; ++index) {
    const int written =
        snprintf(text.data() + used, kItemMax + 1, "%d ", ClampToInt32(values[index]));
    if (written <= 0) return false;
    used += static_cast<size_t>(written);
  }
  ByteString result;
  if (result.SetData(text.data(), static_cast<int>(used)) != ByteString::kOk) return false;
  out = std::move(result);
  return true;
}

}  // namespace vrd

#include "pdf/TokenSearch.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "pdf/DocumentView.h"
#include "pdf/TokenList.h"

namespace vrd {
namespace {

constexpr int32_t kAbsent = -1;

std::string_view NeedleOf(const ByteString& needle) {
  return {needle.GetData(), static_cast<size_t>(needle.GetLength())};
}

std::string_view NeedleOf(const char* needle) {
  return needle == nullptr ? std::string_view() : std::string_view(needle, strlen(needle));
}

int32_t AtFormatEdge(std::optional<int64_t> position) {
  return position ? static_cast<int32_t>(*position) : kAbsent;
}

int32_t SectionWalk(std::string_view needle, const int32_t* offsets, int32_t count,
                    const ByteString& haystack) {
  if (offsets == nullptr || count <= 0) return kAbsent;
  std::vector<int32_t> offset_list;
  if (!ResizeList(offset_list, static_cast<size_t>(count))) return kAbsent;
  for (int32_t index = 0; index < count; ++index) offset_list[index] = offsets[index];
  return AtFormatEdge(DocumentView(haystack).FindInSections(needle, offset_list));
}

}  // namespace

int32_t FindTokenEnd(const ByteString& needle, int32_t start, const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindEnd(NeedleOf(needle), start));
}

int32_t FindTokenEnd(const char* needle, int32_t start, const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindEnd(NeedleOf(needle), start));
}

int32_t FindTokenEndWithin(const ByteString& needle, int32_t start, int32_t window,
                           const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindEndWithin(NeedleOf(needle), start, window));
}

int32_t FindTokenEndWithin(const char* needle, int32_t start, int32_t window,
                           const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindEndWithin(NeedleOf(needle), start, window));
}

int32_t FindTokenStart(const ByteString& needle, int32_t start,
                       const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindStart(NeedleOf(needle), start));
}

int32_t FindTokenStart(const char* needle, int32_t start, const ByteString& haystack) noexcept {
  return AtFormatEdge(DocumentView(haystack).FindStart(NeedleOf(needle), start));
}

int32_t FindInSections(const ByteString& needle, const int32_t* offsets, int32_t count,
                       const ByteString& haystack) noexcept {
  return SectionWalk(NeedleOf(needle), offsets, count, haystack);
}

int32_t FindInSections(const char* needle, const int32_t* offsets, int32_t count,
                       const ByteString& haystack) noexcept {
  return SectionWalk(NeedleOf(needle), offsets, count, haystack);
}

}  // namespace vrd

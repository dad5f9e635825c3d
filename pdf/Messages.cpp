#include "pdf/Messages.h"

#include <cstdio>
#include <cstring>

namespace vrd {
namespace {

// "StartxrefPos을 가져오지 못하였습니다."
constexpr char kStartxrefNotFound[] =
    "\x53\x74\x61\x72\x74\x78\x72\x65\x66\x50\x6f\x73\xc0\xbb\x20\xb0\xa1\xc1\xae\xbf\xc0\xc1"
    "\xf6\x20\xb8\xf8\xc7\xcf\xbf\xb4\xbd\xc0\xb4\xcf\xb4\xd9\x2e";
// "EOF을 가져오지 못하였습니다."
constexpr char kEofNotFound[] =
    "\x45\x4f\x46\xc0\xbb\x20\xb0\xa1\xc1\xae\xbf\xc0\xc1\xf6\x20\xb8\xf8\xc7\xcf\xbf\xb4\xbd"
    "\xc0\xb4\xcf\xb4\xd9\x2e";
// "인영정보를 정의한 Object의 시작위치를 찾는데 실패했습니다."
constexpr char kImprintObjectMissing[] =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6\x20\xc1\xa4\xc0\xc7\xc7\xd1\x20\x4f\x62\x6a\x65"
    "\x63\x74\xc0\xc7\x20\xbd\xc3\xc0\xdb\xc0\xa7\xc4\xa1\xb8\xa6\x20\xc3\xa3\xb4\xc2\xb5\xa5"
    "\x20\xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9\x2e";
// "인영정보를 정의한 Objects의 시작위치를 찾는데 실패했습니다."
constexpr char kImprintStreamMissing[] =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6\x20\xc1\xa4\xc0\xc7\xc7\xd1\x20\x4f\x62\x6a\x65"
    "\x63\x74\x73\xc0\xc7\x20\xbd\xc3\xc0\xdb\xc0\xa7\xc4\xa1\xb8\xa6\x20\xc3\xa3\xb4\xc2\xb5"
    "\xa5\x20\xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9\x2e";
// "인영정보를 정의한 Objects의 마지막 위치를 찾는데 실패했습니다."
constexpr char kImprintEndMissing[] =
    "\xc0\xce\xbf\xb5\xc1\xa4\xba\xb8\xb8\xa6\x20\xc1\xa4\xc0\xc7\xc7\xd1\x20\x4f\x62\x6a\x65"
    "\x63\x74\x73\xc0\xc7\x20\xb8\xb6\xc1\xf6\xb8\xb7\x20\xc0\xa7\xc4\xa1\xb8\xa6\x20\xc3\xa3"
    "\xb4\xc2\xb5\xa5\x20\xbd\xc7\xc6\xd0\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9\x2e";

// The same texts in UTF-8 (a closed set, so a table and no decoder; a test
// checks each row against the code-page-949 bytes above).
// "StartxrefPos을 가져오지 못하였습니다."
constexpr char kStartxrefNotFoundUtf8[] =
    "StartxrefPos\xec\x9d\x84 \xea\xb0\x80\xec\xa0\xb8\xec\x98\xa4\xec\xa7\x80 "
    "\xeb\xaa\xbb\xed\x95\x98\xec\x98\x80\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4.";
// "EOF을 가져오지 못하였습니다."
constexpr char kEofNotFoundUtf8[] =
    "EOF\xec\x9d\x84 \xea\xb0\x80\xec\xa0\xb8\xec\x98\xa4\xec\xa7\x80 "
    "\xeb\xaa\xbb\xed\x95\x98\xec\x98\x80\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4.";
// "인영정보를 정의한 Object의 시작위치를 찾는데 실패했습니다."
constexpr char kImprintObjectMissingUtf8[] =
    "\xec\x9d\xb8\xec\x98\x81\xec\xa0\x95\xeb\xb3\xb4\xeb\xa5\xbc "
    "\xec\xa0\x95\xec\x9d\x98\xed\x95\x9c Object\xec\x9d\x98 "
    "\xec\x8b\x9c\xec\x9e\x91\xec\x9c\x84\xec\xb9\x98\xeb\xa5\xbc "
    "\xec\xb0\xbe\xeb\x8a\x94\xeb\x8d\xb0 "
    "\xec\x8b\xa4\xed\x8c\xa8\xed\x96\x88\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4.";
// "인영정보를 정의한 Objects의 시작위치를 찾는데 실패했습니다."
constexpr char kImprintStreamMissingUtf8[] =
    "\xec\x9d\xb8\xec\x98\x81\xec\xa0\x95\xeb\xb3\xb4\xeb\xa5\xbc "
    "\xec\xa0\x95\xec\x9d\x98\xed\x95\x9c Objects\xec\x9d\x98 "
    "\xec\x8b\x9c\xec\x9e\x91\xec\x9c\x84\xec\xb9\x98\xeb\xa5\xbc "
    "\xec\xb0\xbe\xeb\x8a\x94\xeb\x8d\xb0 "
    "\xec\x8b\xa4\xed\x8c\xa8\xed\x96\x88\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4.";
// "인영정보를 정의한 Objects의 마지막 위치를 찾는데 실패했습니다."
constexpr char kImprintEndMissingUtf8[] =
    "\xec\x9d\xb8\xec\x98\x81\xec\xa0\x95\xeb\xb3\xb4\xeb\xa5\xbc "
    "\xec\xa0\x95\xec\x9d\x98\xed\x95\x9c Objects\xec\x9d\x98 \xeb\xa7\x88\xec\xa7\x80\xeb\xa7\x89 "
    "\xec\x9c\x84\xec\xb9\x98\xeb\xa5\xbc \xec\xb0\xbe\xeb\x8a\x94\xeb\x8d\xb0 "
    "\xec\x8b\xa4\xed\x8c\xa8\xed\x96\x88\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4.";

struct Receiver {
  PdfMessageReceiver function;
  void* context;
};

thread_local Receiver current_receiver = {nullptr, nullptr};

}  // namespace

const char* PdfMessageText(PdfMessage message) noexcept {
  switch (message) {
    case PdfMessage::kStartxrefNotFound:
      return kStartxrefNotFound;
    case PdfMessage::kEofNotFound:
      return kEofNotFound;
    case PdfMessage::kImprintObjectMissing:
      return kImprintObjectMissing;
    case PdfMessage::kImprintStreamMissing:
      return kImprintStreamMissing;
    case PdfMessage::kImprintEndMissing:
      return kImprintEndMissing;
  }
  return "";
}

const char* PdfMessageUtf8Text(PdfMessage message) noexcept {
  switch (message) {
    case PdfMessage::kStartxrefNotFound:
      return kStartxrefNotFoundUtf8;
    case PdfMessage::kEofNotFound:
      return kEofNotFoundUtf8;
    case PdfMessage::kImprintObjectMissing:
      return kImprintObjectMissingUtf8;
    case PdfMessage::kImprintStreamMissing:
      return kImprintStreamMissingUtf8;
    case PdfMessage::kImprintEndMissing:
      return kImprintEndMissingUtf8;
  }
  return "";
}

void WritePdfMessage(PdfMessage message) noexcept {
  const Receiver receiver = current_receiver;
  if (receiver.function != nullptr) {
    receiver.function(receiver.context, message);
    return;
  }
  const char* text = PdfMessageText(message);
  fwrite(text, 1, strlen(text), stdout);
  fflush(stdout);
}

ScopedPdfMessageReceiver::ScopedPdfMessageReceiver(PdfMessageReceiver receiver,
                                                   void* context) noexcept
    : previous_receiver_(current_receiver.function), previous_context_(current_receiver.context) {
  current_receiver = {receiver, context};
}

ScopedPdfMessageReceiver::~ScopedPdfMessageReceiver() {
  current_receiver = {previous_receiver_, previous_context_};
}

}  // namespace vrd

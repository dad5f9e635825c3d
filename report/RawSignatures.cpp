#include "report/RawSignatures.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "report/PdfBytes.h"

namespace vrd::report {
namespace {

constexpr size_t kMaxDepth = 64;          // nested dictionaries followed
constexpr size_t kMaxWord = 32;           // longer words are neither numbers nor keywords
constexpr size_t kMaxName = 127;          // the longest PDF name
constexpr size_t kMaxFieldName = 4096;    // longer /T strings are dropped
constexpr size_t kMaxFields = 100000;     // fields remembered for their /V
constexpr size_t kMaxIntegerDigits = 18;  // fits int64_t
constexpr int kMaxOctalDigits = 3;

using ObjectId = std::pair<int64_t, int64_t>;

bool IsDelimiter(unsigned char c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}

std::optional<int64_t> Integer(std::string_view word) {
  size_t at = (!word.empty() && (word[0] == '+' || word[0] == '-')) ? 1 : 0;
  if (word.size() == at || word.size() - at > kMaxIntegerDigits) return std::nullopt;
  int64_t value = 0;
  for (size_t i = at; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return std::nullopt;
    value = value * 10 + (word[i] - '0');
  }
  return word[0] == '-' ? -value : value;
}

// Knuth-Morris-Pratt over a byte stream: Feed says when the text just ended.
class Needle {
 public:
  explicit Needle(std::string_view text) : text_(text), fail_(text.size(), 0) {
    for (size_t i = 1, k = 0; i < text_.size(); ++i) {
      while (k > 0 && text_[i] != text_[k]) k = fail_[k - 1];
      if (text_[i] == text_[k]) ++k;
      fail_[i] = k;
    }
  }
  void Reset() { matched_ = 0; }
  bool Feed(unsigned char c) {
    while (matched_ > 0 && static_cast<char>(c) != text_[matched_]) matched_ = fail_[matched_ - 1];
    if (static_cast<char>(c) == text_[matched_]) ++matched_;
    if (matched_ < text_.size()) return false;
    matched_ = fail_[matched_ - 1];
    return true;
  }

 private:
  std::string_view text_;
  std::vector<size_t> fail_;
  size_t matched_ = 0;
};

enum class Token {
  kDictOpen,
  kDictClose,
  kArrayOpen,
  kArrayClose,
  kName,
  kWord,
  kLiteralString,
  kHexString,
  kOther
};
enum class Key { kNone, kByteRange, kContents, kType, kSubFilter, kV, kT, kOther };

Key Classify(std::string_view name) {
  if (name == "ByteRange") return Key::kByteRange;
  if (name == "Contents") return Key::kContents;
  if (name == "Type") return Key::kType;
  if (name == "SubFilter") return Key::kSubFilter;
  if (name == "V") return Key::kV;
  if (name == "T") return Key::kT;
  return Key::kOther;
}

struct Frame {
  int64_t offset = 0;
  std::optional<ObjectId> object;
  Key pending = Key::kNone;  // the key whose value comes next
  bool want_value = false;
  int array_depth = 0;  // inside an array value
  bool has_byte_range = false;
  bool byte_range_ok = false;
  std::vector<int64_t> byte_range;
  std::optional<std::string> contents;
  int64_t contents_begin = 0;
  int64_t contents_end = 0;
  std::string type;
  std::string sub_filter;
  std::optional<std::string> field_name;
  std::optional<ObjectId> value_ref;
  int ref_step = 0;  // 1 after "/V N", 2 after "/V N G"
  ObjectId ref;
};

class Scanner {
 public:
  // start: the document position of the first byte fed. With one_object,
  // the scanner is done once the first object ends or its dictionary
  // closes, and takes no further byte.
  explicit Scanner(int64_t start = 0, bool one_object = false)
      : pos_(start), one_object_(one_object) {}
  void Feed(const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size && !done(); ++i, ++pos_) {
      if (state_ == State::kHex) {
        const size_t run = HexRun(bytes + i, size - i);
        i += run;
        pos_ += static_cast<int64_t>(run);
        if (i == size) return;
      }
      Step(bytes[i]);
    }
  }
  std::vector<RawSignature> Finish();
  // With one_object: the first object has ended, or its dictionary closed.
  [[nodiscard]] bool done() const { return one_object_ && (objects_ended_ > 0 || object_closed_); }
  // The signature dictionary found as the object itself, when there is one.
  std::optional<RawSignature> TakeObject(const ObjectId& object);

 private:
  enum class State { kSpace, kWord, kName, kLess, kGreater, kHex, kLiteral, kComment, kStream };
  enum class Escape { kNone, kBackslash, kBackslashCr, kOctal };

  void Step(unsigned char c);
  void Start(unsigned char c);
  void Literal(unsigned char c);
  bool Hex(unsigned char c);  // false when c is no part of the hex string
  // The leading hex digits and white space of bytes, decoded as Hex would
  // one at a time; returns how many were taken.
  size_t HexRun(const unsigned char* bytes, size_t size);
  void EndWord();
  void Handle(Token token);
  void InValue(Frame& frame, Token token);
  void InKey(Frame& frame, Token token);
  void Open();
  void Close();
  void Restart() {
    frames_.clear();
    hidden_depth_ = 0;
  }

  int64_t pos_ = 0;
  State state_ = State::kSpace;
  std::string text_;  // the word, name or literal string being read
  bool text_long_ = false;
  std::string hex_;
  bool hex_bad_ = false;
  int high_nibble_ = -1;
  int literal_depth_ = 0;
  Escape escape_ = Escape::kNone;
  int octal_digits_ = 0;
  int octal_value_ = 0;
  int64_t less_at_ = 0;
  int64_t hex_end_ = 0;  // just after the last hex string's ">"
  Needle endobj_{"endobj"};
  Needle endstream_{"endstream"};

  std::vector<Frame> frames_;
  size_t hidden_depth_ = 0;  // dictionaries opened past kMaxDepth
  std::optional<int64_t> ints_[2];
  bool after_obj_ = false;
  std::optional<ObjectId> object_;

  std::vector<std::pair<RawSignature, std::optional<ObjectId>>> found_;
  size_t contents_total_ = 0;
  std::map<ObjectId, std::string> fields_;
  size_t objects_ended_ = 0;
  bool one_object_ = false;
  bool object_closed_ = false;
};

void Scanner::Step(unsigned char c) {
  switch (state_) {
    case State::kStream:
      if (endstream_.Feed(c)) {
        state_ = State::kSpace;
      } else if (endobj_.Feed(c)) {
        state_ = State::kSpace;
        Restart();
        ++objects_ended_;
      }
      return;
    case State::kComment:
      if (c == '\r' || c == '\n') state_ = State::kSpace;
      return;
    case State::kLiteral:
      if (endobj_.Feed(c)) {
        state_ = State::kSpace;
        Restart();
        ++objects_ended_;
        return;
      }
      Literal(c);
      return;
    case State::kHex:
      if (Hex(c)) return;
      break;
    case State::kWord:
    case State::kName:
      if (!IsPdfWhitespace(c) && !IsDelimiter(c)) {
        if (text_.size() < (state_ == State::kName ? kMaxName : kMaxWord)) {
          text_ += static_cast<char>(c);
        } else {
          text_long_ = true;
        }
        return;
      }
      EndWord();
      if (state_ == State::kStream) return;
      break;
    case State::kLess:
      if (c == '<') {
        state_ = State::kSpace;
        Handle(Token::kDictOpen);
        return;
      }
      state_ = State::kHex;
      hex_.clear();
      hex_bad_ = false;
      high_nibble_ = -1;
      if (Hex(c)) return;
      break;
    case State::kGreater:
      state_ = State::kSpace;
      if (c == '>') {
        Handle(Token::kDictClose);
        return;
      }
      Handle(Token::kOther);
      break;
    case State::kSpace:
      break;
  }
  Start(c);
}

void Scanner::Start(unsigned char c) {
  state_ = State::kSpace;
  if (IsPdfWhitespace(c)) return;
  switch (c) {
    case '%':
      state_ = State::kComment;
      return;
    case '(':
      state_ = State::kLiteral;
      text_.clear();
      text_long_ = false;
      literal_depth_ = 1;
      escape_ = Escape::kNone;
      endobj_.Reset();
      return;
    case '<':
      state_ = State::kLess;
      less_at_ = pos_;
      return;
    case '>':
      state_ = State::kGreater;
      return;
    case '[':
      Handle(Token::kArrayOpen);
      return;
    case ']':
      Handle(Token::kArrayClose);
      return;
    case '/':
      state_ = State::kName;
      text_.clear();
      text_long_ = false;
      return;
    case ')':
    case '{':
    case '}':
      Handle(Token::kOther);
      return;
    default:
      state_ = State::kWord;
      text_.assign(1, static_cast<char>(c));
      text_long_ = false;
  }
}

void Scanner::Literal(unsigned char c) {
  auto append = [this](int byte) {
    if (text_.size() < kMaxFieldName) {
      text_ += static_cast<char>(byte);
    } else {
      text_long_ = true;
    }
  };
  if (escape_ == Escape::kOctal) {
    if (c >= '0' && c <= '7' && octal_digits_ < kMaxOctalDigits) {
      octal_value_ = octal_value_ * 8 + (c - '0');
      if (++octal_digits_ < kMaxOctalDigits) return;
      append(octal_value_ & 0xFF);
      escape_ = Escape::kNone;
      return;
    }
    append(octal_value_ & 0xFF);
    escape_ = Escape::kNone;
  } else if (escape_ == Escape::kBackslashCr) {
    escape_ = Escape::kNone;
    if (c == '\n') return;
  } else if (escape_ == Escape::kBackslash) {
    escape_ = Escape::kNone;
    switch (c) {
      case 'n':
        return append('\n');
      case 'r':
        return append('\r');
      case 't':
        return append('\t');
      case 'b':
        return append('\b');
      case 'f':
        return append('\f');
      case '\r':
        escape_ = Escape::kBackslashCr;
        return;
      case '\n':
        return;
      default:
        if (c >= '0' && c <= '7') {
          escape_ = Escape::kOctal;
          octal_digits_ = 1;
          octal_value_ = c - '0';
          return;
        }
        return append(c);
    }
  }
  if (c == '\\') {
    escape_ = Escape::kBackslash;
  } else if (c == '(') {
    ++literal_depth_;
    append(c);
  } else if (c == ')' && --literal_depth_ == 0) {
    state_ = State::kSpace;
    Handle(Token::kLiteralString);
  } else {
    append(c);
  }
}

bool Scanner::Hex(unsigned char c) {
  if (IsPdfWhitespace(c)) return true;
  if (c == '>') {
    if (high_nibble_ >= 0 && hex_.size() < kMaxRawContentsBytes) {
      hex_ += static_cast<char>(high_nibble_ << 4);
    } else if (high_nibble_ >= 0) {
      hex_bad_ = true;
    }
    state_ = State::kSpace;
    hex_end_ = pos_ + 1;
    Handle(hex_bad_ ? Token::kOther : Token::kHexString);
    return true;
  }
  const int value = HexDigitValue(c);
  if (value < 0) {  // not a hex string after all
    state_ = State::kSpace;
    Handle(Token::kOther);
    return false;
  }
  if (high_nibble_ < 0) {
    high_nibble_ = value;
  } else if (hex_.size() < kMaxRawContentsBytes) {
    hex_ += static_cast<char>(high_nibble_ << 4 | value);
    high_nibble_ = -1;
  } else {
    hex_bad_ = true;
    high_nibble_ = -1;
  }
  return true;
}

size_t Scanner::HexRun(const unsigned char* bytes, size_t size) {
  // Decoded a block at a time: a signature's /Contents runs to megabytes.
  constexpr size_t kBlock = 4096;
  unsigned char block[kBlock];
  size_t filled = 0;
  auto flush = [&]() {
    const size_t room = kMaxRawContentsBytes - std::min(hex_.size(), kMaxRawContentsBytes);
    if (filled > room) hex_bad_ = true;
    hex_.append(reinterpret_cast<const char*>(block), std::min(filled, room));
    filled = 0;
  };
  size_t i = 0;
  for (; i < size; ++i) {
    const int value = HexDigitValue(bytes[i]);
    if (value < 0) {
      if (IsPdfWhitespace(bytes[i])) continue;
      break;
    }
    if (high_nibble_ < 0) {
      high_nibble_ = value;
      continue;
    }
    block[filled++] = static_cast<unsigned char>(high_nibble_ << 4 | value);
    high_nibble_ = -1;
    if (filled == kBlock) flush();
  }
  flush();
  return i;
}

void Scanner::EndWord() {
  const bool name = state_ == State::kName;
  state_ = State::kSpace;
  if (text_long_) {
    Handle(Token::kOther);
    return;
  }
  if (name) {
    Handle(Token::kName);
    return;
  }
  if (text_ == "stream") {
    Restart();
    state_ = State::kStream;
    endstream_.Reset();
    endobj_.Reset();
    return;
  }
  if (text_ == "endobj") {
    Restart();
    ++objects_ended_;
    return;
  }
  if (text_ == "obj" && ints_[0] && ints_[1]) {
    Restart();
    object_ = ObjectId(*ints_[0], *ints_[1]);
    ints_[0].reset();
    ints_[1].reset();
    after_obj_ = true;
    return;
  }
  Handle(Token::kWord);
}

void Scanner::Handle(Token token) {
  const bool after_obj = after_obj_;
  after_obj_ = false;
  if (token == Token::kWord) {
    ints_[0] = ints_[1];
    ints_[1] = Integer(text_);
  } else {
    ints_[0].reset();
    ints_[1].reset();
  }
  if (token == Token::kDictOpen && frames_.empty() && after_obj) {
    Open();
    frames_.back().object = object_;
    return;
  }
  if (hidden_depth_ > 0) {
    if (token == Token::kDictOpen) ++hidden_depth_;
    if (token == Token::kDictClose) --hidden_depth_;
    return;
  }
  if (token == Token::kDictOpen) return Open();
  if (frames_.empty()) return;
  if (token == Token::kDictClose) return Close();
  Frame& frame = frames_.back();
  if (frame.want_value || frame.array_depth > 0) return InValue(frame, token);
  InKey(frame, token);
}

void Scanner::Open() {
  if (frames_.size() >= kMaxDepth) {
    ++hidden_depth_;
    return;
  }
  frames_.emplace_back();
  frames_.back().offset = less_at_;
}

void Scanner::InValue(Frame& frame, Token token) {
  const bool byte_range = frame.pending == Key::kByteRange;
  if (frame.array_depth > 0) {
    if (token == Token::kArrayOpen) ++frame.array_depth;
    if (token == Token::kArrayClose) --frame.array_depth;
    if (byte_range && frame.array_depth > 0) {
      const std::optional<int64_t> value =
          token == Token::kWord ? Integer(text_) : std::optional<int64_t>();
      if (value && frame.array_depth == 1 && frame.byte_range.size() < kMaxRawByteRangeIntegers) {
        frame.byte_range.push_back(*value);
      } else {
        frame.byte_range_ok = false;
      }
    }
    if (frame.array_depth == 0) {
      if (byte_range && !frame.byte_range_ok) frame.byte_range.clear();
      frame.pending = Key::kNone;
      frame.want_value = false;
    }
    return;
  }
  if (byte_range) {
    frame.has_byte_range = true;
    frame.byte_range.clear();
    frame.byte_range_ok = token == Token::kArrayOpen;
  }
  if (token == Token::kArrayOpen) {
    frame.array_depth = 1;
    return;
  }
  if (token == Token::kHexString && frame.pending == Key::kContents) {
    frame.contents = std::move(hex_);
    frame.contents_begin = less_at_;
    frame.contents_end = hex_end_;
  } else if (token == Token::kHexString && frame.pending == Key::kT) {
    frame.field_name = hex_;
  } else if (token == Token::kLiteralString && frame.pending == Key::kT && !text_long_) {
    frame.field_name = text_;
  } else if (token == Token::kName && frame.pending == Key::kType) {
    frame.type = text_;
  } else if (token == Token::kName && frame.pending == Key::kSubFilter) {
    frame.sub_filter = text_;
  } else if (token == Token::kWord && frame.pending == Key::kV) {
    if (const std::optional<int64_t> number = Integer(text_)) {
      frame.ref_step = 1;
      frame.ref.first = *number;
    }
  }
  frame.pending = Key::kNone;
  frame.want_value = false;
}

void Scanner::InKey(Frame& frame, Token token) {
  const int ref_step = frame.ref_step;
  frame.ref_step = 0;
  if (token == Token::kName) {
    frame.pending = Classify(text_);
    frame.want_value = true;
  } else if (token == Token::kArrayOpen) {  // out of place: skipped as a whole
    frame.array_depth = 1;
  } else if (token == Token::kWord && ref_step == 1) {
    if (const std::optional<int64_t> generation = Integer(text_)) {
      frame.ref.second = *generation;
      frame.ref_step = 2;
    }
  } else if (token == Token::kWord && ref_step == 2 && text_ == "R") {
    frame.value_ref = frame.ref;
  }
}

void Scanner::Close() {
  Frame frame = std::move(frames_.back());
  frames_.pop_back();
  if (frame.object) object_closed_ = true;
  if (!frames_.empty() && frames_.back().want_value && frames_.back().array_depth == 0) {
    frames_.back().pending = Key::kNone;
    frames_.back().want_value = false;
  }
  if (frame.value_ref && frame.field_name &&
      (fields_.size() < kMaxFields || fields_.count(*frame.value_ref) > 0)) {
    fields_[*frame.value_ref] = std::move(*frame.field_name);
  }
  if (!frame.has_byte_range || !frame.contents || found_.size() >= kMaxRawSignatures ||
      frame.contents->size() > kMaxRawContentsTotal - contents_total_) {
    return;
  }
  contents_total_ += frame.contents->size();
  RawSignature signature;
  signature.dictionary_offset = frame.offset;
  signature.byte_range = std::move(frame.byte_range);
  signature.contents = std::move(*frame.contents);
  signature.contents_begin = frame.contents_begin;
  signature.contents_end = frame.contents_end;
  signature.type = std::move(frame.type);
  signature.sub_filter = std::move(frame.sub_filter);
  found_.emplace_back(std::move(signature), frame.object);
}

std::vector<RawSignature> Scanner::Finish() {
  std::stable_sort(found_.begin(), found_.end(), [](const auto& a, const auto& b) {
    return a.first.dictionary_offset < b.first.dictionary_offset;
  });
  std::vector<RawSignature> signatures;
  signatures.reserve(found_.size());
  for (auto& [signature, object] : found_) {
    if (object) {
      const auto field = fields_.find(*object);
      if (field != fields_.end()) signature.field_name = field->second;
    }
    signatures.push_back(std::move(signature));
  }
  return signatures;
}

std::optional<RawSignature> Scanner::TakeObject(const ObjectId& object) {
  for (auto& [signature, id] : found_) {
    if (id == object) return std::move(signature);
  }
  return std::nullopt;
}

}  // namespace

std::optional<RawSignature> ReadRawSignatureAt(RangeReader& reader, int64_t size, int64_t offset,
                                               int64_t number, int64_t generation) {
  if (offset < 0 || offset >= size) return std::nullopt;
  Scanner scanner(offset, true);
  const int64_t end = size - offset > kMaxRawObjectBytes ? offset + kMaxRawObjectBytes : size;
  const ObjectId object(number, generation);
  // Most dictionaries end within the first read; a large /Contents is read
  // in growing pieces.
  size_t chunk = kRawObjectFirstChunk;
  for (int64_t at = offset; at < end && !scanner.done();
       chunk = std::min(2 * chunk, kRawObjectChunk)) {
    const size_t wanted =
        static_cast<size_t>(std::min<int64_t>(end - at, static_cast<int64_t>(chunk)));
    ByteSpan bytes;
    if (!reader.Next(at, wanted, &bytes) || bytes.length == 0 || bytes.length > wanted) break;
    scanner.Feed(bytes.data, bytes.length);
    at += static_cast<int64_t>(bytes.length);
  }
  return scanner.TakeObject(object);
}

std::vector<RawSignature> FindRawSignatures(const unsigned char* data, size_t size) {
  Scanner scanner;
  scanner.Feed(data, size);
  return scanner.Finish();
}

std::optional<std::vector<RawSignature>> FindRawSignatures(RangeReader& reader, int64_t size,
                                                           size_t chunk) {
  Scanner scanner;
  for (int64_t at = 0; at < size;) {
    const int64_t step = static_cast<int64_t>(std::max<size_t>(chunk, 1));
    const size_t wanted = static_cast<size_t>(std::min(size - at, step));
    ByteSpan bytes;
    if (!reader.Next(at, wanted, &bytes) || bytes.length == 0 || bytes.length > wanted) {
      return std::nullopt;
    }
    scanner.Feed(bytes.data, bytes.length);
    at += static_cast<int64_t>(bytes.length);
  }
  return scanner.Finish();
}

}  // namespace vrd::report

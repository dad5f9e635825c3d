#include "report/Decoders.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_RunLength.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFStreamFilter.hh>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/Budget.h"

namespace vrd::report {
namespace {

// The widest predictor row accepted (qpdf's predictors allocate two rows).
constexpr uint64_t kMaxPredictorRow = uint64_t{16} << 20;
// LZW (PDF 32000-1 7.4.4): codes of 9 to 12 bits, two reserved codes.
constexpr unsigned kLzwClear = 256;
constexpr unsigned kLzwEnd = 257;
constexpr unsigned kLzwFirstFree = 258;
constexpr unsigned kLzwTableSize = 4096;

class LimitReached : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Passes bytes on, charging them to the budget that was active when the
// stream's decoding began.
class Meter final : public Pipeline {
 public:
  explicit Meter(Pipeline* to) : Pipeline("budget", to), budget_(ActiveBudget()) {}

  void write(unsigned char const* data, size_t length) override {
    if (budget_ != nullptr) {
      if (!budget_->ChargeInflate(length, &total_)) throw LimitReached(budget_->Describe());
    } else if ((total_ += length) > ResourceLimits().max_inflate) {
      throw LimitReached("a stream inflates past the default limit");
    }
    getNext()->write(data, length);
  }
  void finish() override { getNext()->finish(); }

 private:
  DocumentBudget* budget_;
  uint64_t total_ = 0;
};

struct PredictorParameters {
  int predictor = 1;
  int columns = 0;
  int colors = 1;
  int bits_per_component = 8;

  // Bytes per row and per pixel (at least one); false for values no
  // predictor can work with.
  [[nodiscard]] bool RowBytes(size_t* row, size_t* pixel) const {
    const int bpc = bits_per_component;
    if (columns <= 0 || colors <= 0 || (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16))
      return false;
    const uint64_t bits = uint64_t(columns) * uint64_t(colors) * uint64_t(bpc);
    if (bits / 8 + 1 > kMaxPredictorRow) return false;
    *row = static_cast<size_t>((bits + 7) / 8);
    *pixel = static_cast<size_t>(std::max<uint64_t>(1, (uint64_t(colors) * bpc + 7) / 8));
    return true;
  }
};

// Collects rows of a fixed size and hands each, undone, to the next stage;
// a last partial row is undone as far as it goes.
class RowPipeline : public Pipeline {
 public:
  RowPipeline(const char* name, Pipeline* to, size_t row) : Pipeline(name, to), row_(row) {}

  void write(unsigned char const* data, size_t length) override {
    while (length > 0) {
      const size_t count = std::min(length, row_.size() - filled_);
      std::memcpy(row_.data() + filled_, data, count);
      filled_ += count;
      data += count;
      length -= count;
      if (filled_ == row_.size()) Flush();
    }
  }
  void finish() override {
    if (filled_ > 0) Flush();
    getNext()->finish();
  }

 protected:
  virtual size_t Undo(unsigned char* row, size_t filled) = 0;  // bytes to pass on
  std::vector<unsigned char> row_;

 private:
  void Flush() {
    const size_t skip = row_.size() - Undo(row_.data(), filled_);
    if (filled_ > skip) getNext()->write(row_.data() + skip, filled_ - skip);
    filled_ = 0;
  }
  size_t filled_ = 0;
};

// PNG predictors: each row is a filter-type byte and the filtered bytes.
class PngRows final : public RowPipeline {
 public:
  PngRows(Pipeline* to, size_t row, size_t pixel)
      : RowPipeline("PNG predictor", to, row + 1), previous_(row, 0), pixel_(pixel) {}

 protected:
  size_t Undo(unsigned char* row, size_t filled) override {
    std::fill(row + filled, row + row_.size(), 0);
    unsigned char* x = row + 1;
    const size_t n = previous_.size();
    const unsigned char* up = previous_.data();
    switch (row[0]) {
      case 0:
        break;
      case 1:
        for (size_t i = pixel_; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + x[i - pixel_]);
        break;
      case 2:
        for (size_t i = 0; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + up[i]);
        break;
      case 3:
        for (size_t i = 0; i < n; ++i) {
          const unsigned left = i >= pixel_ ? x[i - pixel_] : 0;
          x[i] = static_cast<unsigned char>(x[i] + (left + up[i]) / 2);
        }
        break;
      case 4:
        for (size_t i = 0; i < n; ++i) {
          const int a = i >= pixel_ ? x[i - pixel_] : 0;
          const int b = up[i];
          const int c = i >= pixel_ ? up[i - pixel_] : 0;
          const int p = a + b - c;
          const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          const int best = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          x[i] = static_cast<unsigned char>(x[i] + best);
        }
        break;
      default:
        throw std::runtime_error("PNG predictor: unknown row filter type");
    }
    std::memcpy(previous_.data(), x, n);
    return n;
  }

 private:
  std::vector<unsigned char> previous_;
  size_t pixel_;
};

// TIFF predictor 2: each sample is the difference from the same colour's
// sample to its left, within a row, modulo 2^bits.
class TiffRows final : public RowPipeline {
 public:
  TiffRows(Pipeline* to, size_t row, const PredictorParameters& p)
      : RowPipeline("TIFF predictor", to, row),
        samples_(size_t(p.columns) * size_t(p.colors)),
        colors_(size_t(p.colors)),
        bits_(unsigned(p.bits_per_component)) {}

 protected:
  size_t Undo(unsigned char* row, size_t filled) override {
    std::fill(row + filled, row + row_.size(), 0);
    const unsigned mask = (1u << bits_) - 1;
    for (size_t i = colors_; i < samples_; ++i) {
      Set(row, i, (Get(row, i) + Get(row, i - colors_)) & mask);
    }
    return row_.size();
  }

 private:
  unsigned Get(const unsigned char* row, size_t i) const {
    if (bits_ == 16) return unsigned(row[2 * i]) << 8 | row[2 * i + 1];
    const size_t bit = i * bits_;
    return (row[bit / 8] >> (8 - bits_ - bit % 8)) & ((1u << bits_) - 1);
  }
  void Set(unsigned char* row, size_t i, unsigned value) const {
    if (bits_ == 16) {
      row[2 * i] = static_cast<unsigned char>(value >> 8);
      row[2 * i + 1] = static_cast<unsigned char>(value);
      return;
    }
    const size_t bit = i * bits_;
    const unsigned shift = 8 - bits_ - bit % 8;
    const unsigned mask = ((1u << bits_) - 1) << shift;
    row[bit / 8] = static_cast<unsigned char>((row[bit / 8] & ~mask) | (value << shift));
  }

  size_t samples_;
  size_t colors_;
  unsigned bits_;
};

// LZW decoding, most significant bit first, with a clear code and an end
// code; codes widen one step early when early_change is 1.
class LzwDecoder final : public Pipeline {
 public:
  LzwDecoder(Pipeline* to, unsigned early_change)
      : Pipeline("LZW decoder", to), early_change_(early_change) {
    Reset();
    for (unsigned i = 0; i < 256; ++i) {
      suffix_[i] = static_cast<unsigned char>(i);
      length_[i] = 1;
    }
  }

  void write(unsigned char const* data, size_t length) override {
    for (size_t i = 0; i < length && !ended_; ++i) {
      bits_ = (bits_ << 8) | data[i];
      pending_ += 8;
      while (pending_ >= width_ && !ended_) {
        pending_ -= width_;
        Code((bits_ >> pending_) & ((1u << width_) - 1));
      }
      bits_ &= (1u << pending_) - 1;
    }
    FlushOutput();
  }
  void finish() override {
    FlushOutput();
    getNext()->finish();
  }

 private:
  void Reset() {
    next_code_ = kLzwFirstFree;
    width_ = 9;
    previous_ = -1;
  }

  void Code(unsigned code) {
    if (code == kLzwClear) return Reset();
    if (code == kLzwEnd) {
      ended_ = true;
      return;
    }
    if (previous_ < 0) {
      if (code > 255) throw std::runtime_error("LZW: bad first code");
      Emit(code);
      previous_ = int(code);
      return;
    }
    unsigned first;
    if (code < next_code_) {
      Emit(code);
      first = FirstByte(code);
    } else if (code == next_code_ && next_code_ < kLzwTableSize) {
      first = FirstByte(unsigned(previous_));
      Emit(unsigned(previous_));
      out_.push_back(static_cast<unsigned char>(first));
    } else {
      throw std::runtime_error("LZW: code out of range");
    }
    if (next_code_ < kLzwTableSize) {
      prefix_[next_code_] = static_cast<uint16_t>(previous_);
      suffix_[next_code_] = static_cast<unsigned char>(first);
      length_[next_code_] = static_cast<uint16_t>(length_[previous_] + 1);
      ++next_code_;
      const unsigned reach = next_code_ + early_change_;
      width_ = reach >= 2048 ? 12 : reach >= 1024 ? 11 : reach >= 512 ? 10 : 9;
    }
    previous_ = int(code);
  }

  unsigned FirstByte(unsigned code) const {
    while (code > 255) code = prefix_[code];
    return code;
  }

  void Emit(unsigned code) {
    const size_t at = out_.size();
    out_.resize(at + length_[code]);
    for (size_t i = length_[code]; i-- > 0;) {
      out_[at + i] = suffix_[code];
      code = prefix_[code];
    }
    if (out_.size() >= (size_t{64} << 10)) FlushOutput();
  }

  void FlushOutput() {
    if (out_.empty()) return;
    getNext()->write(out_.data(), out_.size());
    out_.clear();
  }

  unsigned early_change_;
  unsigned next_code_ = kLzwFirstFree;
  unsigned width_ = 9;
  int previous_ = -1;
  uint32_t bits_ = 0;
  unsigned pending_ = 0;
  bool ended_ = false;
  uint16_t prefix_[kLzwTableSize] = {};
  unsigned char suffix_[kLzwTableSize] = {};
  uint16_t length_[kLzwTableSize] = {};
  std::vector<unsigned char> out_;
};

// /FlateDecode and /LZWDecode with their /DecodeParms.
class FlateOrLzw final : public QPDFStreamFilter {
 public:
  explicit FlateOrLzw(bool lzw) : lzw_(lzw) {}

  bool setDecodeParms(QPDFObjectHandle parms) override {
    if (!parms.isDictionary()) return true;
    bool usable = true;
    for (const std::string& key : parms.getKeys()) {
      QPDFObjectHandle value = parms.getKey(key);
      const bool known = key == "/Predictor" || key == "/Columns" || key == "/Colors" ||
                         key == "/BitsPerComponent" || (lzw_ && key == "/EarlyChange");
      if (!known) continue;
      if (!value.isInteger()) {
        usable = false;
        continue;
      }
      const int number = value.getIntValueAsInt();
      if (key == "/Predictor") {
        p_.predictor = number;
        if (number != 1 && number != 2 && (number < 10 || number > 15)) usable = false;
      } else if (key == "/Columns") {
        p_.columns = number;
      } else if (key == "/Colors") {
        p_.colors = number;
      } else if (key == "/BitsPerComponent") {
        p_.bits_per_component = number;
      } else {
        early_change_ = number;
        if (number != 0 && number != 1) usable = false;
      }
    }
    return usable && !(p_.predictor > 1 && p_.columns == 0);
  }

  Pipeline* getDecodePipeline(Pipeline* next) override {
    Pipeline* after = next;
    if (p_.predictor > 1) {
      size_t row = 0;
      size_t pixel = 0;
      if (!p_.RowBytes(&row, &pixel)) throw std::runtime_error("invalid predictor parameters");
      if (p_.predictor >= 10) {
        predictor_ = std::make_unique<PngRows>(after, row, pixel);
      } else {
        predictor_ = std::make_unique<TiffRows>(after, row, p_);
      }
      after = predictor_.get();
    }
    meter_ = std::make_unique<Meter>(after);
    if (lzw_) {
      decoder_ = std::make_unique<LzwDecoder>(meter_.get(), unsigned(early_change_));
    } else {
      decoder_ = std::make_unique<Pl_Flate>("inflate", meter_.get(), Pl_Flate::a_inflate);
    }
    return decoder_.get();
  }

 private:
  bool lzw_;
  PredictorParameters p_;
  int early_change_ = 1;
  std::unique_ptr<Pipeline> predictor_;
  std::unique_ptr<Pipeline> meter_;
  std::unique_ptr<Pipeline> decoder_;
};

class RunLength final : public QPDFStreamFilter {
 public:
  Pipeline* getDecodePipeline(Pipeline* next) override {
    meter_ = std::make_unique<Meter>(next);
    decoder_ = std::make_unique<Pl_RunLength>("run-length", meter_.get(), Pl_RunLength::a_decode);
    return decoder_.get();
  }
  bool isSpecializedCompression() override { return true; }

 private:
  std::unique_ptr<Pipeline> meter_;
  std::unique_ptr<Pipeline> decoder_;
};

}  // namespace

void InstallBudgetedDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
    QPDF::registerStreamFilter("/FlateDecode", [] { return std::make_shared<FlateOrLzw>(false); });
    QPDF::registerStreamFilter("/LZWDecode", [] { return std::make_shared<FlateOrLzw>(true); });
    QPDF::registerStreamFilter("/RunLengthDecode", [] { return std::make_shared<RunLength>(); });
  });
}

}  // namespace vrd::report

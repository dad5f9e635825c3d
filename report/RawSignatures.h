// Internal to the report module: signature dictionaries read straight from a
// document's bytes, without a PDF parser, for documents qpdf cannot open at
// all (a security handler it does not know, damage beyond repair).
// Signature dictionaries and their /Contents are never encrypted, so their
// time-stamps can still be checked.
//
// Ownership: the caller owns the bytes or the reader for the call; the
// results own copies of what they hold.
#ifndef VRD_REPORT_RAWSIGNATURES_H_
#define VRD_REPORT_RAWSIGNATURES_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/ReportTypes.h"
#include "report/TokenReport.h"

namespace vrd::report {

constexpr size_t kMaxRawSignatures = kMaxTimeStamps;
// The longest /Contents kept, decoded (twice as many hex digits); a longer
// one is no signature.
constexpr size_t kMaxRawContentsBytes = size_t{4} << 20;
// All signatures' /Contents together; signatures past it are left out.
constexpr size_t kMaxRawContentsTotal = size_t{64} << 20;
// The most /ByteRange integers kept; a longer array counts as no array.
constexpr size_t kMaxRawByteRangeIntegers = 1024;
// What the reader is asked for at a time.
constexpr size_t kRawScanChunk = size_t{1} << 20;

struct RawSignature {
  int64_t dictionary_offset = 0;    // where its "<<" starts
  std::vector<int64_t> byte_range;  // /ByteRange; empty unless an array of integers
  std::string contents;             // the /Contents hex string, decoded
  int64_t contents_begin = 0;       // where that string lies: its "<"
  int64_t contents_end = 0;         // and just after its ">"
  std::string type;                 // /Type without "/" ("Sig", "DocTimeStamp"), or empty
  std::string sub_filter;           // /SubFilter without "/", or empty
  std::string field_name;           // /T of a field whose /V refers to it, or empty
};

// Every dictionary that has a /ByteRange key and a hex-string /Contents
// (odd digit counts end in a 0, as in PDF), in order of offset, each once, at
// most kMaxRawSignatures.
//
// One forward pass of a PDF lexer: a key belongs to the innermost open
// dictionary; literal strings (with their escapes and nested parentheses),
// hex strings and comments are skipped, and so is stream data up to
// "endstream". "N G obj" and "endobj" start afresh, and a literal string or
// stream data still open at an "endobj" ends there, so stray bytes in a
// damaged object cost that object only. field_name needs the dictionary to
// be the one right after "N G obj", and a dictionary elsewhere with
// "/V N G R" and a /T string (the last one in the file wins).
//
// Work is linear in the size and memory bounded by the limits above. The
// result does not depend on how the bytes are cut into reads.
std::vector<RawSignature> FindRawSignatures(const unsigned char* data, size_t size);

// The same over a document of size bytes that reader hands over, asking for
// at most chunk bytes at a time. Nothing when a read fails.
std::optional<std::vector<RawSignature>> FindRawSignatures(RangeReader& reader, int64_t size,
                                                           size_t chunk = kRawScanChunk);

// The signature dictionary that is object number, generation at offset
// (where its "N G obj" starts, as the cross-reference table gives it), read
// by the same rules; nothing when the object there is another one or no
// such dictionary. Reads until the object's "endobj", kMaxRawObjectBytes at
// most, from kRawObjectFirstChunk bytes at a time up to kRawObjectChunk: a
// parser need not tokenize a large
// /Contents only to have it copied out.
constexpr int64_t kMaxRawObjectBytes =
    int64_t{2} * static_cast<int64_t>(kMaxRawContentsBytes) + (int64_t{1} << 20);
constexpr size_t kRawObjectFirstChunk = size_t{4} << 10;
constexpr size_t kRawObjectChunk = size_t{64} << 10;
std::optional<RawSignature> ReadRawSignatureAt(RangeReader& reader, int64_t size, int64_t offset,
                                               int64_t number, int64_t generation);

}  // namespace vrd::report

#endif  // VRD_REPORT_RAWSIGNATURES_H_

// Locating and decoding the data of PDF streams.
#pragma once

#include <cstdint>
#include <string>

#include "byte_source.h"
#include "pdf_object.h"

namespace pagecnt {

// Only cross-reference and object streams are ever decoded, and no real one
// comes near these sizes; they bound what a hostile file can make us hold.
constexpr uint64_t kMaxRawStreamSize = 32u << 20;
constexpr size_t kMaxDecodedStreamSize = 64u << 20;

// The length of the stream data that starts at `start`. `declared_length`
// is the /Length value, or -1 when it is unknown. A length that does not
// end at "endstream" is not trusted: the keyword is searched for instead,
// and a truncated file gives what is left of it.
uint64_t FindStreamLength(ByteSource& source, uint64_t start,
                          int64_t declared_length);

// Decodes `length` bytes of stream data at `start` as the stream dictionary
// `dictionary` says. Knows no filter or FlateDecode, with or without a PNG
// predictor; false for anything else and for data that yields nothing.
bool DecodeStream(ByteSource& source, const PdfObject& dictionary,
                  uint64_t start, uint64_t length, std::string& out);

// The same for stream data already read (and decrypted): `raw`.
bool DecodeStreamData(const PdfObject& dictionary, std::string raw, std::string& out);

}  // namespace pagecnt

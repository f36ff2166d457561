#include "pclxl_counter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "byte_source.h"
#include "paper_sizes.h"
#include "pjl.h"

namespace pagecnt {

namespace {

// The header line is short; a longer one is not a stream header.
constexpr uint64_t kMaxHeaderLine = 1024;
// Attributes of one operator: real ones have a dozen at most, later ones
// are read but not kept.
constexpr int kMaxAttributes = 32;
// Characters of a ubyte array value kept: enough for a media name.
constexpr size_t kMaxName = 32;
constexpr uint32_t kMaxCopies = 9999;

enum Tag : int {
  kUbyte = 0xC0,
  kReal32 = 0xC5,
  kUbyteArray = 0xC8,
  kReal32Array = 0xCD,
  kUbyteXy = 0xD0,
  kReal32Xy = 0xD5,
  kUbyteBox = 0xE0,
  kReal32Box = 0xE5,
  kAttributeUbyte = 0xF8,
  kAttributeUint16 = 0xF9,
  kDataLength = 0xFA,
  kDataLengthByte = 0xFB,
};

enum Operator : int {
  kBeginSession = 0x41,
  kBeginPage = 0x43,
  kEndPage = 0x44,
  // Its payload follows the operator raw, VUDataLength bytes long; HP's
  // own drivers send their JetReady and FastRaster data so.
  kVendorUnique = 0x46,
};

enum Attribute : int {
  kMediaSize = 37,
  kCustomMediaSize = 47,
  kCustomMediaSizeUnits = 48,
  kPageCopies = 49,
  kMeasure = 134,
  kUnitsPerMeasure = 137,
  kVendorDataLength = 146,
};

// Points in one unit of each Measure (inch, millimetre, tenth of one).
constexpr double kPointsPerUnit[] = {72.0, 72.0 / 25.4, 7.2 / 25.4};

// ubyte, uint16, uint32, sint16, sint32, real32.
constexpr int kElementSize[] = {1, 2, 4, 2, 4, 4};

struct DataValue {
  bool present = false;
  bool array = false;
  int count = 0;       // numbers kept, up to 4 (xy: 2, box: 4)
  double numbers[4] = {};
  std::string name;    // a ubyte array's first characters
};

// A number of the stream as a whole number, or `fallback` where it is none:
// a real32 may be NaN or far beyond every integer type, and converting such
// a value is undefined behaviour.
int64_t Whole(double value, int64_t fallback) {
  return value >= -9.0e15 && value <= 9.0e15 ? static_cast<int64_t>(value) : fallback;
}

struct AttributeValue {
  int id = -1;
  DataValue value;
};

class PclXlParser {
 public:
  PclXlParser(ByteSource& source, JobCount& result)
      : source_(source), result_(result) {}

  void Run(uint64_t position) {
    position = Header(position);
    while (position < source_.end()) {
      int tag = source_.At(position);
      if (tag < 0) break;
      if (tag == 0x1B) {
        if (IsUniversalExit(source_, position)) break;
        position = FindUniversalExit(source_, position + 1);
        break;
      }
      uint64_t next = Token(position, tag);
      if (next == 0) {  // no token: the job is over
        position = FindUniversalExit(source_, position + 1);
        break;
      }
      position = next;
    }
    result_.end = std::min(position, source_.end());
    result_.pages = pages_;
  }

 private:
  // Skips the header line, noting the byte order; returns its end.
  uint64_t Header(uint64_t position) {
    little_endian_ = source_.At(position) == ')';
    for (uint64_t end = position + kMaxHeaderLine; position < end; ++position) {
      int c = source_.At(position);
      if (c < 0 || c == '\n') return position + 1;
    }
    return position;
  }

  // Reads an unsigned number of `size` bytes; false past the end.
  bool ReadUnsigned(uint64_t position, int size, uint32_t& value) {
    value = 0;
    for (int i = 0; i < size; ++i) {
      int c = source_.At(position + i);
      if (c < 0) return false;
      int shift = little_endian_ ? 8 * i : 8 * (size - 1 - i);
      value |= static_cast<uint32_t>(c) << shift;
    }
    return true;
  }

  bool ReadElement(uint64_t position, int type, double& number) {
    uint32_t raw = 0;
    if (!ReadUnsigned(position, kElementSize[type], raw)) return false;
    switch (type) {
      case 3: number = static_cast<int16_t>(raw); break;
      case 4: number = static_cast<int32_t>(raw); break;
      case 5: {
        float real;
        std::memcpy(&real, &raw, sizeof real);
        number = real;
        break;
      }
      default: number = raw; break;
    }
    return true;
  }

  // The token at `position`; returns the position after it, or 0 when the
  // byte there starts no token or the token runs past the end.
  uint64_t Token(uint64_t position, int tag) {
    if (tag == 0x00 || (tag >= 0x09 && tag <= 0x0D) || tag == 0x20) {
      return position + 1;  // white space
    }
    if (tag == ')' || tag == '(') {  // a further stream header
      return IsPclXlHeader(source_, position) ? Header(position) : 0;
    }
    if (tag >= 0x41 && tag <= 0xBF) {
      // Operators the stream's protocol class does not know are passed
      // over with their attributes, as printers do.
      return Skip(position + 1, OnOperator(tag));
    }
    if (tag >= kUbyte && tag <= kReal32) {
      return Values(position + 1, tag - kUbyte, 1, false);
    }
    if (tag >= kUbyteXy && tag <= kReal32Xy) {
      return Values(position + 1, tag - kUbyteXy, 2, false);
    }
    if (tag >= kUbyteBox && tag <= kReal32Box) {
      return Values(position + 1, tag - kUbyteBox, 4, false);
    }
    if (tag >= kUbyteArray && tag <= kReal32Array) {
      // The length is itself a ubyte or uint16 value.
      int length_tag = source_.At(position + 1);
      if (length_tag != kUbyte && length_tag != kUbyte + 1) return 0;
      uint32_t length = 0;
      int length_size = length_tag == kUbyte ? 1 : 2;
      if (!ReadUnsigned(position + 2, length_size, length)) return 0;
      return Values(position + 2 + length_size, tag - kUbyteArray, length, true);
    }
    uint32_t id = 0;
    switch (tag) {
      case kAttributeUbyte:
      case kAttributeUint16: {
        int size = tag == kAttributeUbyte ? 1 : 2;
        if (!ReadUnsigned(position + 1, size, id)) return 0;
        OnAttribute(static_cast<int>(id));
        return position + 1 + size;
      }
      case kDataLength:
      case kDataLengthByte: {
        int size = tag == kDataLength ? 4 : 1;
        uint32_t length = 0;
        if (!ReadUnsigned(position + 1, size, length)) return 0;
        return Skip(position + 1 + size, length);
      }
      default:
        return 0;
    }
  }

  // The position `length` bytes on; 0 when that is past the end.
  uint64_t Skip(uint64_t position, uint64_t length) {
    if (position > source_.end() || length > source_.end() - position) return 0;
    return position + length;
  }

  // A value of `count` elements of `type` at `position`; keeps the first
  // numbers, and the first characters of a ubyte array.
  uint64_t Values(uint64_t position, int type, uint32_t count, bool array) {
    value_ = DataValue();
    value_.present = true;
    value_.array = array;
    int size = kElementSize[type];
    for (uint32_t i = 0; i < count && i < 4; ++i) {
      if (!ReadElement(position + i * size, type, value_.numbers[i])) return 0;
      value_.count = static_cast<int>(i) + 1;
    }
    if (array && type == 0) {
      for (uint32_t i = 0; i < count && i < kMaxName; ++i) {
        int c = source_.At(position + i);
        if (c <= 0) break;
        value_.name.push_back(static_cast<char>(c));
      }
    }
    return Skip(position, static_cast<uint64_t>(count) * size);
  }

  void OnAttribute(int id) {
    if (value_.present && attribute_count_ < kMaxAttributes) {
      attributes_[attribute_count_].id = id;
      attributes_[attribute_count_].value = value_;
      ++attribute_count_;
    }
    value_ = DataValue();
  }

  const DataValue* Find(int id) const {
    for (int i = 0; i < attribute_count_; ++i) {
      if (attributes_[i].id == id) return &attributes_[i].value;
    }
    return nullptr;
  }

  // Acts on an operator; returns the length of the raw payload that
  // follows it.
  uint64_t OnOperator(int op) {
    uint64_t payload = 0;
    if (op == kVendorUnique) {
      const DataValue* length = Find(kVendorDataLength);
      if (length && !length->array && length->count == 1 && length->numbers[0] > 0) {
        payload = static_cast<uint64_t>(Whole(length->numbers[0], 0));
      }
    } else if (op == kBeginSession) {
      const DataValue* measure = Find(kMeasure);
      const DataValue* units = Find(kUnitsPerMeasure);
      measure_ = measure && measure->count == 1
                     ? static_cast<int>(std::clamp<int64_t>(Whole(measure->numbers[0], -1), -1, 3))
                     : -1;
      units_per_measure_ = units && !units->array && units->count >= 1 ? units->numbers[0] : 0;
    } else if (op == kBeginPage) {
      page_paper_ = PagePaper();
    } else if (op == kEndPage) {
      if (pages_++ == 0) {
        result_.paper_size = page_paper_;
        const DataValue* copies = Find(kPageCopies);
        if (copies && !copies->array && copies->count == 1 &&
            copies->numbers[0] >= 1) {
          result_.copies = static_cast<uint32_t>(
              std::min<double>(copies->numbers[0], kMaxCopies));
        }
      }
    }
    attribute_count_ = 0;
    value_ = DataValue();
    return payload;
  }

  uint16_t PagePaper() const {
    if (const DataValue* media = Find(kMediaSize)) {
      if (media->array) return PaperSizeFromPclXlName(media->name.c_str());
      if (media->count == 1) return PaperSizeFromPclXl(Whole(media->numbers[0], -1));
      // A pair: width and height in the session's units.
      if (media->count == 2 && measure_ >= 0 && measure_ <= 2 && units_per_measure_ > 0) {
        double points = kPointsPerUnit[measure_] / units_per_measure_;
        return PaperSizeFromPoints(media->numbers[0] * points, media->numbers[1] * points);
      }
      return 0;
    }
    const DataValue* custom = Find(kCustomMediaSize);
    if (!custom || custom->array || custom->count != 2) return 0;
    const DataValue* units = Find(kCustomMediaSizeUnits);
    int unit = units && units->count == 1
                   ? static_cast<int>(std::clamp<int64_t>(Whole(units->numbers[0], -1), -1, 3))
                   : -1;
    if (unit < 0 || unit > 2) return 0;
    return PaperSizeFromPoints(custom->numbers[0] * kPointsPerUnit[unit],
                               custom->numbers[1] * kPointsPerUnit[unit]);
  }

  ByteSource& source_;
  JobCount& result_;
  bool little_endian_ = true;
  uint64_t pages_ = 0;
  uint16_t page_paper_ = 0;
  int measure_ = -1;               // of the session: an index into kPointsPerUnit
  double units_per_measure_ = 0;   // its x value
  DataValue value_;
  AttributeValue attributes_[kMaxAttributes];
  int attribute_count_ = 0;
};

}  // namespace

bool IsPclXlHeader(ByteSource& source, uint64_t position) {
  int binding = source.At(position);
  return (binding == ')' || binding == '(') &&
         source.Matches(position + 1, " HP-PCL XL");
}

bool CountPclXlPages(const FileView& file, uint64_t start, JobCount& result) {
  // Small blocks: most of a stream is embedded data, which is skipped and
  // need not be read.
  ByteSource source(file, start, file.size());
  PclXlParser(source, result).Run(start);
  return result.pages > 0;
}

}  // namespace pagecnt

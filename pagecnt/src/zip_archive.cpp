#include "zip_archive.h"

#include <zlib.h>

#include <algorithm>

namespace pagecnt {

namespace {

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64EndLocator = 0x07064b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kDirectoryEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
// The end record is 22 bytes and its comment at most 65535.
constexpr uint64_t kEndSearch = 22 + 65535;
// A part stored as more pieces than this is not read further.
constexpr int kMaxPieces = 1 << 16;
constexpr size_t kChunk = 64 * 1024;

std::string Normalize(const std::string& name) {
  std::string out;
  size_t begin = name.find_first_not_of('/');
  for (size_t i = begin == std::string::npos ? name.size() : begin; i < name.size(); ++i) {
    char c = name[i];
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  return out;
}

}  // namespace

ZipArchive::ZipArchive(const FileView& file, uint64_t start)
    : file_(file), source_(file, start, file.size()), start_(start) {}

uint64_t ZipArchive::Number(uint64_t position, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    int c = source_.At(position + i);
    value = value << 8 | static_cast<uint64_t>(c < 0 ? 0 : c);
  }
  return value;
}

uint64_t ZipArchive::HashName(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : Normalize(name)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return hash;
}

bool ZipArchive::Open() {
  const uint64_t end = source_.end();
  if (end - start_ < 22) return false;
  // The end record is the last one in the file: search backwards.
  uint64_t lowest = end - std::min(end - start_, kEndSearch);
  uint64_t record = end;
  for (uint64_t position = end - 22 + 1; position-- > lowest;) {
    if (source_.At(position) == 0x50 && Number(position, 4) == kEndOfDirectory) {
      record = position;
      break;
    }
  }
  if (record == end) return false;
  uint64_t count = Number(record + 10, 2);
  uint64_t size = Number(record + 12, 4);
  uint64_t offset = Number(record + 16, 4);
  if ((count == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF) && record >= start_ + 20 &&
      Number(record - 20, 4) == kZip64EndLocator) {
    uint64_t zip64 = Number(record - 20 + 8, 8) + start_;
    if (zip64 < end && Number(zip64, 4) == kZip64End) {
      count = Number(zip64 + 32, 8);
      size = Number(zip64 + 40, 8);
      offset = Number(zip64 + 48, 8);
    }
  }
  uint64_t position = start_ + offset;
  if (offset >= end - start_ || size > end - position) return false;
  uint64_t directory_end = position + size;
  count = std::min<uint64_t>(count, kMaxItems);
  items_.reserve(static_cast<size_t>(std::min<uint64_t>(count, 65536)));
  std::string name;
  for (uint64_t i = 0; i < count && position + 46 <= directory_end; ++i) {
    if (Number(position, 4) != kDirectoryEntry) break;
    Item item;
    item.method = static_cast<uint16_t>(Number(position + 10, 2));
    item.compressed_size = Number(position + 20, 4);
    uint64_t name_length = Number(position + 28, 2);
    uint64_t extra_length = Number(position + 30, 2);
    uint64_t comment_length = Number(position + 32, 2);
    item.local_header = Number(position + 42, 4);
    uint64_t uncompressed = Number(position + 24, 4);
    name.clear();
    source_.CopyTo(position + 46, name_length, name);
    // Sizes and offsets too large for their fields are in the Zip64 field,
    // in this order, each only when its field is full.
    uint64_t extra = position + 46 + name_length;
    uint64_t extra_end = extra + extra_length;
    while (extra + 4 <= extra_end) {
      uint64_t id = Number(extra, 2);
      uint64_t length = Number(extra + 2, 2);
      if (id == 0x0001) {
        uint64_t field = extra + 4;
        if (uncompressed == 0xFFFFFFFF) field += 8;
        if (item.compressed_size == 0xFFFFFFFF) {
          item.compressed_size = Number(field, 8);
          field += 8;
        }
        if (item.local_header == 0xFFFFFFFF) item.local_header = Number(field, 8);
        break;
      }
      extra += 4 + length;
    }
    item.hash = HashName(name);
    items_.push_back(item);
    position += 46 + name_length + extra_length + comment_length;
  }
  std::sort(items_.begin(), items_.end(),
            [](const Item& a, const Item& b) { return a.hash < b.hash; });
  return !items_.empty();
}

const ZipArchive::Item* ZipArchive::Find(const std::string& name) const {
  uint64_t hash = HashName(name);
  auto found = std::lower_bound(items_.begin(), items_.end(), hash,
                                [](const Item& item, uint64_t h) { return item.hash < h; });
  return found != items_.end() && found->hash == hash ? &*found : nullptr;
}

bool ZipArchive::ReadItem(const Item& item, const std::string& name,
                          uint64_t& budget, const Consumer& consume,
                          bool& stopped) {
  uint64_t header = start_ + item.local_header;
  if (item.local_header >= source_.end() - start_ ||
      Number(header, 4) != kLocalHeader) {
    return false;
  }
  // The name in the local header settles what the hash found.
  uint64_t name_length = Number(header + 26, 2);
  std::string local_name;
  source_.CopyTo(header + 30, name_length, local_name);
  if (Normalize(local_name) != Normalize(name)) return false;
  uint64_t data = header + 30 + name_length + Number(header + 28, 2);
  if (data > source_.end()) return false;
  uint64_t left = std::min(item.compressed_size, source_.end() - data);
  std::vector<char> in(kChunk);
  if (item.method == 0) {
    while (left > 0 && budget > 0 && !stopped) {
      size_t take = static_cast<size_t>(std::min<uint64_t>({left, kChunk, budget}));
      size_t got = file_.Read(data, in.data(), take);
      if (got == 0) break;
      data += got;
      left -= got;
      budget -= got;
      stopped = !consume(in.data(), got);
    }
    return true;
  }
  if (item.method != 8) return false;
  z_stream stream = {};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  std::vector<char> out(kChunk);
  int status = Z_OK;
  while (status == Z_OK && budget > 0 && !stopped) {
    if (stream.avail_in == 0) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
      size_t got = take ? file_.Read(data, in.data(), take) : 0;
      if (got == 0) break;
      data += got;
      left -= got;
      stream.next_in = reinterpret_cast<Bytef*>(in.data());
      stream.avail_in = static_cast<uInt>(got);
    }
    size_t room = static_cast<size_t>(std::min<uint64_t>(kChunk, budget));
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(room);
    status = inflate(&stream, Z_NO_FLUSH);
    size_t produced = room - stream.avail_out;
    if (status == Z_BUF_ERROR && produced == 0 && stream.avail_in == 0) status = Z_OK;
    budget -= produced;
    if (produced > 0) stopped = !consume(out.data(), produced);
  }
  inflateEnd(&stream);
  return true;
}

bool ZipArchive::ReadPart(const std::string& name, uint64_t max_bytes,
                          const Consumer& consume) {
  uint64_t budget = std::min(max_bytes, bytes_left_);
  const uint64_t granted = budget;
  struct Charge {
    uint64_t& left;
    const uint64_t& budget;
    uint64_t granted;
    ~Charge() { left -= granted - budget; }
  } charge{bytes_left_, budget, granted};
  bool stopped = false;
  if (const Item* item = Find(name)) {
    return ReadItem(*item, name, budget, consume, stopped);
  }
  for (int piece = 0; piece < kMaxPieces && !stopped && budget > 0; ++piece) {
    std::string prefix = name + "/[" + std::to_string(piece) + "]";
    std::string piece_name = prefix + ".piece";
    const Item* item = Find(piece_name);
    bool last = false;
    if (!item) {
      piece_name = prefix + ".last.piece";
      item = Find(piece_name);
      last = true;
    }
    if (!item) return piece > 0;
    if (!ReadItem(*item, piece_name, budget, consume, stopped)) return piece > 0;
    if (last) break;
  }
  return true;
}

std::string ResolvePartName(const std::string& base, const std::string& reference) {
  std::string path = reference.substr(0, reference.find_first_of("#?"));
  if (path.empty() || path[0] != '/') {
    size_t slash = base.rfind('/');
    path = (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + path;
  }
  std::vector<std::string> segments;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(begin, end - begin);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    begin = end + 1;
  }
  std::string out;
  for (const std::string& segment : segments) {
    if (!out.empty()) out += '/';
    out += segment;
  }
  return out;
}

}  // namespace pagecnt

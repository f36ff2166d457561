#include "pdf_security.h"

#include <algorithm>

#include "crypto.h"

namespace pagecnt {

namespace {

using crypto::Digest;
using crypto::Hash;

// The 32 bytes that pad a password (ISO 32000-1, 7.6.3.3).
const std::string kPadding(
    "\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
    "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
    32);

int64_t IntegerOf(const PdfObject& dictionary, const char* key, int64_t fallback) {
  const PdfObject& value = dictionary.Get(key);
  return value.IsInteger() ? value.integer : fallback;
}

const std::string& StringOf(const PdfObject& dictionary, const char* key) {
  static const std::string kNone;
  const PdfObject& value = dictionary.Get(key);
  return value.kind == PdfObject::Kind::kString ? value.name : kNone;
}

// The cipher that the crypt filter named by /StmF uses: /V2 is RC4,
// /AESV2 AES-128, /AESV3 AES-256, /Identity none.
std::string StreamFilterMethod(const PdfObject& encrypt) {
  const PdfObject& stream_filter = encrypt.Get("StmF");
  if (!stream_filter.IsNull() && stream_filter.kind != PdfObject::Kind::kName) return "?";
  std::string name = stream_filter.IsNull() ? "Identity" : stream_filter.name;
  if (name == "Identity") return "None";
  const PdfObject& filter = encrypt.Get("CF").Get(name);
  const PdfObject& method = filter.Get("CFM");
  return method.kind == PdfObject::Kind::kName ? method.name : "None";
}

// The first bytes of PKCS #7 padded data without the padding; empty when
// the padding is wrong.
std::string Unpad(std::string data) {
  if (data.empty()) return data;
  size_t pad = static_cast<uint8_t>(data.back());
  if (pad == 0 || pad > 16 || pad > data.size()) return "";
  data.resize(data.size() - pad);
  return data;
}

}  // namespace

std::string HashPasswordR6(const std::string& password, const std::string& salt,
                           const std::string& user_entry) {
  std::string key = Digest(Hash::kSha256, password + salt + user_entry);
  // At least 64 rounds, then until the last byte of the round's data is at
  // most the round less 32; the data's bytes bound this to a few more.
  for (int round = 0; round < 64 + 256 && key.size() >= 32; ++round) {
    std::string block = password + key + user_entry;
    std::string repeated;
    repeated.reserve(block.size() * 64);
    for (int i = 0; i < 64; ++i) repeated += block;
    std::string encrypted =
        crypto::AesCbcEncrypt(key.substr(0, 16), key.substr(16, 16), repeated);
    if (encrypted.size() < 16) return "";
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) sum += static_cast<uint8_t>(encrypted[i]);
    static const Hash kNext[] = {Hash::kSha256, Hash::kSha384, Hash::kSha512};
    key = Digest(kNext[sum % 3], encrypted);
    if (round >= 63 && static_cast<uint8_t>(encrypted.back()) <= round + 1 - 32) break;
  }
  return key.size() >= 32 ? key.substr(0, 32) : "";
}

bool PdfSecurity::Open(const PdfObject& encrypt, const std::string& first_id) {
  if (!encrypt.Get("Filter").IsName("Standard")) return false;
  int64_t version = IntegerOf(encrypt, "V", 0);
  int64_t revision = IntegerOf(encrypt, "R", 0);
  if (version == 5 && (revision == 5 || revision == 6)) {
    return OpenAes256(encrypt, static_cast<int>(revision));
  }
  if ((version == 1 || version == 2 || version == 4) && revision >= 2 && revision <= 4) {
    return OpenRc4OrAes128(encrypt, first_id, static_cast<int>(revision));
  }
  return false;
}

bool PdfSecurity::OpenRc4OrAes128(const PdfObject& encrypt, const std::string& first_id,
                                  int revision) {
  int64_t version = IntegerOf(encrypt, "V", 0);
  int64_t bits = version == 1 ? 40 : IntegerOf(encrypt, "Length", 40);
  if (version == 4) bits = 128;
  if (bits < 40 || bits > 128 || bits % 8 != 0) return false;
  size_t length = revision == 2 ? 5 : static_cast<size_t>(bits / 8);
  const std::string& owner = StringOf(encrypt, "O");
  const std::string& user = StringOf(encrypt, "U");
  if (owner.size() < 32 || user.size() < 32) return false;
  if (version == 4) {
    std::string method = StreamFilterMethod(encrypt);
    if (method == "V2") {
      streams_ = Cipher::kRc4;
    } else if (method == "AESV2") {
      streams_ = Cipher::kAes128;
    } else if (method == "None") {
      streams_ = Cipher::kNone;
    } else {
      return false;
    }
  } else {
    streams_ = Cipher::kRc4;
  }

  // Algorithm 2, with the empty password: its padding alone.
  uint32_t permissions = static_cast<uint32_t>(IntegerOf(encrypt, "P", 0));
  std::string input = kPadding + owner.substr(0, 32);
  for (int i = 0; i < 4; ++i) input.push_back(static_cast<char>(permissions >> (8 * i)));
  input += first_id;
  const PdfObject& metadata = encrypt.Get("EncryptMetadata");
  if (revision >= 4 && metadata.kind == PdfObject::Kind::kBoolean && metadata.integer == 0) {
    input += std::string(4, '\xFF');
  }
  std::string key = Digest(Hash::kMd5, input);
  if (revision >= 3) {
    for (int i = 0; i < 50 && key.size() >= length; ++i) {
      key = Digest(Hash::kMd5, key.substr(0, length));
    }
  }
  if (key.size() < length) return false;
  key.resize(length);

  // Algorithms 4 and 5: the user entry shows whether that is the key.
  std::string check;
  if (revision == 2) {
    check = crypto::Rc4(key, kPadding);
    if (check.size() != 32 || check != user.substr(0, 32)) return false;
  } else {
    check = crypto::Rc4(key, Digest(Hash::kMd5, kPadding + first_id));
    for (int i = 1; i <= 19 && check.size() == 16; ++i) {
      std::string round_key = key;
      for (char& c : round_key) c = static_cast<char>(c ^ i);
      check = crypto::Rc4(round_key, check);
    }
    if (check.size() != 16 || check != user.substr(0, 16)) return false;
  }
  key_ = key;
  return true;
}

bool PdfSecurity::OpenAes256(const PdfObject& encrypt, int revision) {
  const std::string& user = StringOf(encrypt, "U");
  const std::string& user_key = StringOf(encrypt, "UE");
  if (user.size() < 48 || user_key.size() < 32) return false;
  std::string method = StreamFilterMethod(encrypt);
  if (method == "AESV3") {
    streams_ = Cipher::kAes256;
  } else if (method == "None") {
    streams_ = Cipher::kNone;
  } else {
    return false;
  }
  // The empty password: the validation salt shows it is the user's, the
  // key salt gives the key that unwraps the file's key.
  const std::string validation_salt = user.substr(32, 8);
  const std::string key_salt = user.substr(40, 8);
  auto hash = [&](const std::string& salt) {
    return revision == 5 ? Digest(Hash::kSha256, salt) : HashPasswordR6("", salt, "");
  };
  std::string validation = hash(validation_salt);
  if (validation.size() != 32 || validation != user.substr(0, 32)) return false;
  std::string unwrapping = hash(key_salt);
  std::string key =
      crypto::AesCbcDecrypt(unwrapping, std::string(16, '\0'), user_key.substr(0, 32));
  if (key.size() != 32) return false;
  key_ = key;
  return true;
}

std::string PdfSecurity::DecryptStream(uint32_t number, uint32_t generation,
                                       const std::string& data) const {
  if (streams_ == Cipher::kNone) return data;
  std::string key = key_;
  if (streams_ != Cipher::kAes256) {
    // Algorithm 1: the object's own key.
    for (int i = 0; i < 3; ++i) key.push_back(static_cast<char>(number >> (8 * i)));
    for (int i = 0; i < 2; ++i) key.push_back(static_cast<char>(generation >> (8 * i)));
    if (streams_ == Cipher::kAes128) key += "sAlT";
    key = Digest(Hash::kMd5, key);
    key.resize(std::min<size_t>(key_.size() + 5, 16));
  }
  if (streams_ == Cipher::kRc4) return crypto::Rc4(key, data);
  // AES: the first block is the vector; padded to whole blocks.
  if (data.size() < 32 || data.size() % 16 != 0) return "";
  return Unpad(crypto::AesCbcDecrypt(key, data.substr(0, 16), data.substr(16)));
}

}  // namespace pagecnt

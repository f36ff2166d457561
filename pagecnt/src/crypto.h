// The few cryptographic primitives that reading an encrypted PDF needs,
// served by the platform: CNG (bcrypt.dll) in the product, with
// CryptoAPI's RC4 where CNG has none (Wine's bcrypt), and Nettle in the
// native build of the sanitizers and fuzz targets. No cipher is written
// here by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pagecnt::crypto {

enum class Hash { kMd5, kSha256, kSha384, kSha512 };

// The digest of `data` (16, 32, 48 or 64 bytes); empty when the platform
// cannot compute it.
std::string Digest(Hash hash, std::string_view data);

// `data` encrypted or decrypted with RC4 under `key` (1 to 16 bytes: PDF's
// keys are 5 to 16); empty when the platform cannot.
std::string Rc4(std::string_view key, std::string_view data);

// AES in CBC mode, no padding: `data` must be whole blocks of 16 bytes,
// `key` 16 or 32 bytes, `iv` 16. Empty on any failure.
std::string AesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data);
std::string AesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data);

}  // namespace pagecnt::crypto

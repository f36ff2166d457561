// The cryptographic primitives on Nettle (Debian's nettle-dev), for the
// native build: a small library of exactly these primitives with a stable
// API, whose RC4 needs no legacy provider as OpenSSL 3's does.
#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha2.h>

#include "crypto.h"

namespace pagecnt::crypto {

namespace {

const uint8_t* Bytes(std::string_view data) {
  return reinterpret_cast<const uint8_t*>(data.data());
}

template <typename Context, typename Init, typename Update, typename Final>
std::string Compute(size_t size, std::string_view data, Init init, Update update, Final final) {
  Context context;
  init(&context);
  update(&context, data.size(), Bytes(data));
  std::string out(size, '\0');
  final(&context, size, reinterpret_cast<uint8_t*>(&out[0]));
  return out;
}

bool AesArguments(std::string_view key, std::string_view iv, std::string_view data) {
  return (key.size() == 16 || key.size() == 32) && iv.size() == 16 && data.size() % 16 == 0;
}

}  // namespace

std::string Digest(Hash hash, std::string_view data) {
  switch (hash) {
    case Hash::kMd5:
      return Compute<md5_ctx>(MD5_DIGEST_SIZE, data, md5_init, md5_update, md5_digest);
    case Hash::kSha256:
      return Compute<sha256_ctx>(SHA256_DIGEST_SIZE, data, sha256_init, sha256_update,
                                 sha256_digest);
    case Hash::kSha384:
      return Compute<sha384_ctx>(SHA384_DIGEST_SIZE, data, sha384_init, sha384_update,
                                 sha384_digest);
    case Hash::kSha512:
      return Compute<sha512_ctx>(SHA512_DIGEST_SIZE, data, sha512_init, sha512_update,
                                 sha512_digest);
  }
  return "";
}

std::string Rc4(std::string_view key, std::string_view data) {
  if (key.empty() || key.size() > 16) return "";
  arcfour_ctx context;
  arcfour_set_key(&context, key.size(), Bytes(key));
  std::string out(data.size(), '\0');
  if (!data.empty()) {
    arcfour_crypt(&context, data.size(), reinterpret_cast<uint8_t*>(&out[0]), Bytes(data));
  }
  return out;
}

std::string AesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data) {
  if (!AesArguments(key, iv, data)) return "";
  std::string out(data.size(), '\0');
  std::string chain(iv);
  uint8_t* vector = reinterpret_cast<uint8_t*>(&chain[0]);
  uint8_t* to = reinterpret_cast<uint8_t*>(&out[0]);
  if (key.size() == 16) {
    aes128_ctx context;
    aes128_set_encrypt_key(&context, Bytes(key));
    cbc_encrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes128_encrypt), 16, vector,
                data.size(), to, Bytes(data));
  } else {
    aes256_ctx context;
    aes256_set_encrypt_key(&context, Bytes(key));
    cbc_encrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes256_encrypt), 16, vector,
                data.size(), to, Bytes(data));
  }
  return out;
}

std::string AesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data) {
  if (!AesArguments(key, iv, data)) return "";
  std::string out(data.size(), '\0');
  std::string chain(iv);
  uint8_t* vector = reinterpret_cast<uint8_t*>(&chain[0]);
  uint8_t* to = reinterpret_cast<uint8_t*>(&out[0]);
  if (key.size() == 16) {
    aes128_ctx context;
    aes128_set_decrypt_key(&context, Bytes(key));
    cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes128_decrypt), 16, vector,
                data.size(), to, Bytes(data));
  } else {
    aes256_ctx context;
    aes256_set_decrypt_key(&context, Bytes(key));
    cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), 16, vector,
                data.size(), to, Bytes(data));
  }
  return out;
}

}  // namespace pagecnt::crypto

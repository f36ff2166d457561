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

namespace {

// AES of either key size through nettle's CBC mode, either way.
std::string AesCbc(bool encrypt, std::string_view key, std::string_view iv,
                   std::string_view data) {
  if (!AesArguments(key, iv, data)) return "";
  std::string out(data.size(), '\0');
  std::string chain(iv);
  auto run = [&](auto& context, auto set_key, auto cipher) {
    set_key(&context, Bytes(key));
    (encrypt ? cbc_encrypt : cbc_decrypt)(&context, reinterpret_cast<nettle_cipher_func*>(cipher),
                                          16, reinterpret_cast<uint8_t*>(&chain[0]), data.size(),
                                          reinterpret_cast<uint8_t*>(&out[0]), Bytes(data));
  };
  if (key.size() == 16) {
    aes128_ctx context;
    run(context, encrypt ? aes128_set_encrypt_key : aes128_set_decrypt_key,
        encrypt ? aes128_encrypt : aes128_decrypt);
  } else {
    aes256_ctx context;
    run(context, encrypt ? aes256_set_encrypt_key : aes256_set_decrypt_key,
        encrypt ? aes256_encrypt : aes256_decrypt);
  }
  return out;
}

}  // namespace

std::string AesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data) {
  return AesCbc(true, key, iv, data);
}

std::string AesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data) {
  return AesCbc(false, key, iv, data);
}

}  // namespace pagecnt::crypto

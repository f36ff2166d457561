// The cryptographic primitives on CNG (bcrypt.dll), the platform's own.
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <vector>

#include <cstring>

#include "crypto.h"

namespace pagecnt::crypto {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An algorithm provider, a hash or a key, closed with its owner.
class Provider {
 public:
  explicit Provider(LPCWSTR algorithm) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
  }
  ~Provider() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A hash or a key object, destroyed with its owner.
template <NTSTATUS(WINAPI* Destroy)(BCRYPT_HANDLE)>
class Owned {
 public:
  Owned() = default;
  ~Owned() {
    if (handle_) Destroy(handle_);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  BCRYPT_HANDLE* put() { return &handle_; }
  BCRYPT_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HANDLE handle_ = nullptr;
};
using HashObject = Owned<BCryptDestroyHash>;
using Key = Owned<BCryptDestroyKey>;

PUCHAR Bytes(std::string_view data) {
  return reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
}

// Encrypts or decrypts `data` with a symmetric `algorithm`, in CBC mode
// with `iv` when one is given; no padding.
std::string Cipher(LPCWSTR algorithm, bool encrypt, std::string_view key, std::string_view iv,
                   std::string_view data) {
  Provider provider(algorithm);
  if (!provider.get()) return "";
  if (!iv.empty()) {
    const wchar_t* mode = BCRYPT_CHAIN_MODE_CBC;
    if (!Succeeded(BCryptSetProperty(provider.get(), BCRYPT_CHAINING_MODE,
                                     reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                                     sizeof BCRYPT_CHAIN_MODE_CBC, 0))) {
      return "";
    }
  }
  Key handle;
  if (!Succeeded(BCryptGenerateSymmetricKey(provider.get(), handle.put(), nullptr, 0,
                                            Bytes(key), static_cast<ULONG>(key.size()), 0))) {
    return "";
  }
  std::string out(data.size(), '\0');
  if (data.empty()) return out;
  std::string vector(iv);  // CNG updates the vector it is given
  ULONG done = 0;
  PUCHAR vector_bytes = vector.empty() ? nullptr : Bytes(vector);
  auto call = encrypt ? BCryptEncrypt : BCryptDecrypt;
  NTSTATUS status = call(handle.get(), Bytes(data), static_cast<ULONG>(data.size()), nullptr,
                         vector_bytes, static_cast<ULONG>(vector.size()),
                         reinterpret_cast<PUCHAR>(&out[0]), static_cast<ULONG>(out.size()), &done,
                         0);
  if (!Succeeded(status) || done != data.size()) return "";
  return out;
}

bool AesArguments(std::string_view key, std::string_view iv, std::string_view data) {
  return (key.size() == 16 || key.size() == 32) && iv.size() == 16 && data.size() % 16 == 0;
}

// RC4 through CryptoAPI's enhanced provider, for systems whose CNG has no
// RC4 (Wine's bcrypt does not offer it; rsaenh does).
std::string CryptoApiRc4(std::string_view short_key, std::string_view data) {
  // The provider salts keys of 40 bits and refuses shorter ones. RC4's key
  // schedule takes the key's bytes in turn, over and over, so a key repeated
  // whole is the same key: 5 bytes are given as 10.
  std::string key(short_key);
  while (key.size() <= 5) key += short_key;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT)) {
    return "";
  }
  // A plain-text key blob: header, key length, key.
  std::vector<BYTE> blob(sizeof(BLOBHEADER) + sizeof(DWORD) + key.size());
  BLOBHEADER header = {PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RC4};
  DWORD length = static_cast<DWORD>(key.size());
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, &length, sizeof length);
  std::memcpy(blob.data() + sizeof header + sizeof length, key.data(), key.size());
  HCRYPTKEY handle = 0;
  std::string out(data);
  bool ok = CryptImportKey(provider, blob.data(), static_cast<DWORD>(blob.size()), 0,
                           CRYPT_NO_SALT, &handle) != 0;
  DWORD done = static_cast<DWORD>(out.size());
  if (ok && !out.empty()) {
    ok = CryptEncrypt(handle, 0, TRUE, 0, reinterpret_cast<BYTE*>(&out[0]), &done,
                      static_cast<DWORD>(out.size())) != 0 &&
         done == data.size();
  }
  if (handle) CryptDestroyKey(handle);
  CryptReleaseContext(provider, 0);
  return ok ? out : "";
}

}  // namespace

std::string Digest(Hash hash, std::string_view data) {
  LPCWSTR algorithm = BCRYPT_MD5_ALGORITHM;
  size_t size = 16;
  switch (hash) {
    case Hash::kMd5: break;
    case Hash::kSha256: algorithm = BCRYPT_SHA256_ALGORITHM; size = 32; break;
    case Hash::kSha384: algorithm = BCRYPT_SHA384_ALGORITHM; size = 48; break;
    case Hash::kSha512: algorithm = BCRYPT_SHA512_ALGORITHM; size = 64; break;
  }
  Provider provider(algorithm);
  HashObject object;
  if (!provider.get() ||
      !Succeeded(BCryptCreateHash(provider.get(), object.put(), nullptr, 0, nullptr, 0, 0)) ||
      !Succeeded(BCryptHashData(object.get(), Bytes(data), static_cast<ULONG>(data.size()), 0))) {
    return "";
  }
  std::string out(size, '\0');
  if (!Succeeded(BCryptFinishHash(object.get(), reinterpret_cast<PUCHAR>(&out[0]),
                                  static_cast<ULONG>(size), 0))) {
    return "";
  }
  return out;
}

std::string Rc4(std::string_view key, std::string_view data) {
  // PDF's keys are 5 to 16 bytes.
  if (key.empty() || key.size() > 16) return "";
  std::string out = Cipher(BCRYPT_RC4_ALGORITHM, true, key, "", data);
  if (out.size() == data.size() && !data.empty()) return out;
  return CryptoApiRc4(key, data);
}


std::string AesCbcEncrypt(std::string_view key, std::string_view iv, std::string_view data) {
  if (!AesArguments(key, iv, data)) return "";
  return Cipher(BCRYPT_AES_ALGORITHM, true, key, iv, data);
}

std::string AesCbcDecrypt(std::string_view key, std::string_view iv, std::string_view data) {
  if (!AesArguments(key, iv, data)) return "";
  return Cipher(BCRYPT_AES_ALGORITHM, false, key, iv, data);
}

}  // namespace pagecnt::crypto

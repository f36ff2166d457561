// The platform's cryptography behind the seam that encrypted PDF uses,
// against published test vectors (RFC 1321, FIPS 180-2, NIST SP 800-38A,
// and RC4's widely published vectors).
#include <gtest/gtest.h>

#include <string>

#include "crypto.h"

namespace {

using pagecnt::crypto::Hash;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

TEST(CryptoTest, DigestsOfAbc) {
  EXPECT_EQ(Hex(pagecnt::crypto::Digest(Hash::kMd5, "abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(pagecnt::crypto::Digest(Hash::kSha256, "abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(pagecnt::crypto::Digest(Hash::kSha384, "abc")),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
            "8086072ba1e7cc2358baeca134c825a7");
  EXPECT_EQ(Hex(pagecnt::crypto::Digest(Hash::kSha512, "abc")),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
}

TEST(CryptoTest, Rc4OfEveryKeyLengthPdfUses) {
  EXPECT_EQ(Hex(pagecnt::crypto::Rc4("Key", "Plaintext")), "bbf316e8d940af0ad3");
  // 40 bits, as revision 2 uses, and 128.
  EXPECT_EQ(Hex(pagecnt::crypto::Rc4(Bytes("0102030405"), std::string(16, '\0'))),
            "b2396305f03dc027ccc3524a0a1118a8");
  EXPECT_EQ(Hex(pagecnt::crypto::Rc4(Bytes("0102030405060708090a0b0c0d0e0f10"),
                                     std::string(16, '\0'))),
            "9ac7cc9a609d1ef7b2932899cde41b97");
  // RC4 is its own inverse.
  const std::string key = "sixteen byte key";  // 16 bytes, the longest PDF key
  EXPECT_EQ(pagecnt::crypto::Rc4(key, pagecnt::crypto::Rc4(key, "a page tree")), "a page tree");
}

TEST(CryptoTest, AesCbcOfBothKeySizes) {
  const std::string iv = Bytes("000102030405060708090a0b0c0d0e0f");
  const std::string plain = Bytes("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
  const std::string key128 = Bytes("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string key256 =
      Bytes("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  EXPECT_EQ(Hex(pagecnt::crypto::AesCbcEncrypt(key128, iv, plain)),
            "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2");
  EXPECT_EQ(Hex(pagecnt::crypto::AesCbcEncrypt(key256, iv, plain)),
            "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d");
  EXPECT_EQ(pagecnt::crypto::AesCbcDecrypt(key128, iv, pagecnt::crypto::AesCbcEncrypt(key128, iv, plain)),
            plain);
  EXPECT_EQ(Hex(pagecnt::crypto::AesCbcDecrypt(
                key256, iv, Bytes("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"))),
            Hex(plain));
  // Not whole blocks, or a key of another size: nothing.
  EXPECT_EQ(pagecnt::crypto::AesCbcDecrypt(key128, iv, "short"), "");
  EXPECT_EQ(pagecnt::crypto::AesCbcDecrypt("key", iv, plain), "");
}

}  // namespace

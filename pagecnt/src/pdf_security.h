// The standard security handler of PDF: what an encrypted document needs
// decrypted for its pages to be counted.
#pragma once

#include <cstdint>
#include <string>

#include "pdf_object.h"

namespace pagecnt {

// Object streams are encrypted; the page tree's numbers are not, and a
// cross-reference stream never is. So only stream data is decrypted, and
// only that of the object streams.
//
// Supported: the standard security handler, revisions 2 to 6 (RC4 of 40
// to 128 bits, AES-128, AES-256), opened with the empty user password, as
// a printer opens a document that asks for no password. A document that
// needs a real password, or another handler, is refused: it cannot be
// counted.
class PdfSecurity {
 public:
  // `encrypt` is the resolved /Encrypt dictionary, `first_id` the first
  // string of the trailer's /ID. False when the document cannot be opened.
  bool Open(const PdfObject& encrypt, const std::string& first_id);

  // The data of the stream of object `number` and `generation`, decrypted;
  // empty when it cannot be.
  std::string DecryptStream(uint32_t number, uint32_t generation, const std::string& data) const;

 private:
  bool OpenRc4OrAes128(const PdfObject& encrypt, const std::string& first_id, int revision);
  bool OpenAes256(const PdfObject& encrypt, int revision);

  enum class Cipher { kNone, kRc4, kAes128, kAes256 };
  Cipher streams_ = Cipher::kNone;
  std::string key_;  // the file's key
};

// Revision 6's hash of a password with a salt and, for the owner's, the
// user entry (ISO 32000-2, algorithm 2.B); revision 5 takes SHA-256 alone.
std::string HashPasswordR6(const std::string& password, const std::string& salt,
                           const std::string& user_entry);

}  // namespace pagecnt

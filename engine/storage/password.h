// RzvPassword: the key material of a database as the storage layer sees it,
// the password's bytes plus the crypto algorithm id its pages use.
#pragma once

#include <cstdint>
#include <string>

namespace rzv {

struct RzvPassword {
  // The password's characters in windows-1252, one byte each, no terminator.
  // The key is the hash of exactly these bytes, so callers convert text at
  // their boundary and never hand in UTF-8.
  std::string password;
  // Crypto algorithm id 0..7 (crypto_algorithm.h). At open the id stored in
  // the file replaces this one.
  uint8_t algorithm = 0;

  // An empty password means the database is stored unencrypted.
  bool IsEncrypted() const { return !password.empty(); }
};

}  // namespace rzv

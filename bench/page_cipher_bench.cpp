// Page encryption speed over one 4056-byte data area (a 4096-byte page), for
// every crypto algorithm, beside Crypto++'s own CBC mode of the same cipher
// keyed once (triple DES: DES_EDE3) over the same bytes rounded down to
// whole blocks. Ours keeps one RzvPageCipher per run, as the page manager
// keeps one per open database.

#include <benchmark/benchmark.h>
#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/modes.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <string>
#include <vector>

#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/page_cipher.h"

namespace rzv {
namespace {

constexpr size_t kDataArea = 4056;
const std::string kPassword = "benchmark password";

std::vector<uint8_t> Page() {
  std::vector<uint8_t> b(kDataArea);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
  return b;
}

void Ours(benchmark::State& state, uint8_t id, bool encrypt) {
  const RzvPageCipher cipher(id, kPassword);
  std::vector<uint8_t> buf = Page();
  for (auto _ : state) {
    const bool ok =
        encrypt ? cipher.Encrypt(buf.data(), buf.size()) : cipher.Decrypt(buf.data(), buf.size());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}

template <class Cipher>
void Cbc(benchmark::State& state, uint8_t id, bool encrypt) {
  std::vector<uint8_t> key = RzvDerivePageKey(id, kPassword);
  if (id == kRzvDesTriple) key.resize(24, 0);
  const std::vector<uint8_t> iv(Cipher::BLOCKSIZE, 0xFF);
  typename CryptoPP::CBC_Mode<Cipher>::Encryption enc(key.data(), key.size(), iv.data());
  typename CryptoPP::CBC_Mode<Cipher>::Decryption dec(key.data(), key.size(), iv.data());
  std::vector<uint8_t> buf = Page();
  buf.resize(kDataArea - kDataArea % Cipher::BLOCKSIZE);
  for (auto _ : state) {
    if (encrypt) {
      enc.ProcessData(buf.data(), buf.data(), buf.size());
    } else {
      dec.ProcessData(buf.data(), buf.data(), buf.size());
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buf.size()));
}

using CbcFn = void (*)(benchmark::State&, uint8_t, bool);

CbcFn CbcFor(uint8_t id) {
  switch (id) {
    case kRzvRijndael128:
    case kRzvRijndael256:
      return &Cbc<CryptoPP::Rijndael>;
    case kRzvDesSingle:
      return &Cbc<CryptoPP::DES>;
    case kRzvDesTriple:
      return &Cbc<CryptoPP::DES_EDE3>;
    case kRzvBlowfish:
      return &Cbc<CryptoPP::Blowfish>;
    case kRzvTwofish128:
    case kRzvTwofish256:
      return &Cbc<CryptoPP::Twofish>;
    default:
      return &Cbc<CryptoPP::Square>;
  }
}

// Names: <Encrypt|Decrypt>/<id>_<algorithm>/<ours|cbc>.
const bool kRegistered = [] {
  for (bool encrypt : {true, false}) {
    for (uint8_t id = 0; id < kRzvCryptoAlgorithmCount; ++id) {
      const std::string stem = std::string(encrypt ? "Encrypt/" : "Decrypt/") + std::to_string(id) +
                               "_" + RzvCryptoAlgorithmName(id);
      benchmark::RegisterBenchmark((stem + "/ours").c_str(), &Ours, id, encrypt);
      benchmark::RegisterBenchmark((stem + "/cbc").c_str(), CbcFor(id), id, encrypt);
    }
  }
  return true;
}();

}  // namespace
}  // namespace rzv

#include "engine/storage/page_cipher.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/cpu.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/secblock.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/storage/byte_order.h"
#include "engine/storage/crc32.h"
#include "engine/storage/crypto_algorithm.h"
#include "engine/storage/exception.h"

namespace rzv {

using CryptoPP::BlockTransformation;

// The chaining mode over one keyed block cipher; Chain<Core> below is the
// only implementation.
class RzvPageCipher::Impl {
 public:
  virtual ~Impl() = default;
  virtual size_t BlockSize() const = 0;
  virtual void Encrypt(uint8_t* p, size_t n) const = 0;
  virtual void Decrypt(uint8_t* p, size_t n) const = 0;
};

namespace {

// dst ^= src over one block. Blocks of 16 bytes go as one SSE2 load and
// store: updating the feedback register in 8-byte pieces made the cipher's
// next 16-byte load of it miss store forwarding on every block.
template <size_t B>
inline void XorInto(uint8_t* dst, const uint8_t* src) {
  static_assert(B % 8 == 0);
#if defined(__SSE2__)
  if constexpr (B == 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_xor_si128(a, b));
    return;
  }
#endif
  for (size_t i = 0; i < B; i += 8) {
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, dst + i, 8);
    std::memcpy(&b, src + i, 8);
    a ^= b;
    std::memcpy(dst + i, &a, 8);
  }
}

// Lays out the feedback of `run` bytes of ciphertext c: feed block i :=
// F ^ c_0 ^ ... ^ c_{i-1}, and leaves F past the run. The register lives in
// locals here, never in memory, so the loop is a plain chain of xors.
template <size_t B>
inline void LayFeedback(uint8_t* f, const uint8_t* c, uint8_t* feed, size_t run) {
#if defined(__SSE2__)
  if constexpr (B == 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f));
    for (size_t i = 0; i < run; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(feed + i), v);
      v = _mm_xor_si128(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(f), v);
    return;
  }
#endif
  uint64_t w[B / 8];
  std::memcpy(w, f, B);
  for (size_t i = 0; i < run; i += B) {
    std::memcpy(feed + i, w, B);
    for (size_t k = 0; k < B / 8; ++k) {
      uint64_t x;
      std::memcpy(&x, c + i + 8 * k, 8);
      w[k] ^= x;
    }
  }
  std::memcpy(f, w, B);
}

// A Crypto++ block cipher as a chaining core. Both directions are keyed up
// front so that a page read never pays for a key schedule.
template <class Cipher>
class LibraryCore {
 public:
  static constexpr size_t kBlockSize = Cipher::BLOCKSIZE;

  LibraryCore(const uint8_t* key, size_t len) : enc_(key, len), dec_(key, len) {}

  // out = E(in ^ x).
  void EncryptXorInput(const uint8_t* in, const uint8_t* x, uint8_t* out) const {
    enc_.AdvancedProcessBlocks(in, x, out, kBlockSize, BlockTransformation::BT_XorInput);
  }
  void EncryptBlock(const uint8_t* in, uint8_t* out) const { enc_.ProcessBlock(in, out); }
  // out[i] = D(in[i]) ^ x[i] over len bytes of whole blocks; in may equal out.
  // The blocks are independent, so the cipher may pipeline them (AES-NI does).
  void DecryptXorOutput(const uint8_t* in, const uint8_t* x, uint8_t* out, size_t len) const {
    dec_.AdvancedProcessBlocks(in, x, out, len, BlockTransformation::BT_AllowParallel);
  }

 private:
  typename Cipher::Encryption enc_;
  typename Cipher::Decryption dec_;
};

// "DES_Triple": single DES over a 24-byte block taken as three DES blocks,
// encrypt with K1, decrypt with K2, encrypt with K3 (8 zero bytes for every
// derived key), exchanging bytes 4..7 with 8..11 between the passes. The
// exchange ties DES blocks 0 and 1 together; bytes 16..23 are never exchanged
// and so go through plain EDE on their own. That is the stored format, kept
// as it is. Decryption runs the passes backwards with the directions swapped.
class TripleDesCore {
 public:
  static constexpr size_t kBlockSize = 24;

  explicit TripleDesCore(const uint8_t* key24)
      : e1_(key24, 8),
        d1_(key24, 8),
        e2_(key24 + 8, 8),
        d2_(key24 + 8, 8),
        e3_(key24 + 16, 8),
        d3_(key24 + 16, 8) {}

  void EncryptBlock(const uint8_t* in, uint8_t* out) const {
    Pass(e1_, in, out);
    Exchange(out);
    Pass(d2_, out, out);
    Exchange(out);
    Pass(e3_, out, out);
  }
  void EncryptXorInput(const uint8_t* in, const uint8_t* x, uint8_t* out) const {
    uint8_t t[kBlockSize];
    std::memcpy(t, in, kBlockSize);
    XorInto<kBlockSize>(t, x);
    EncryptBlock(t, out);
  }
  void DecryptXorOutput(const uint8_t* in, const uint8_t* x, uint8_t* out, size_t len) const {
    for (size_t i = 0; i < len; i += kBlockSize) {
      Pass(d3_, in + i, out + i);
      Exchange(out + i);
      Pass(e2_, out + i, out + i);
      Exchange(out + i);
      Pass(d1_, out + i, out + i);
      XorInto<kBlockSize>(out + i, x + i);
    }
  }

 private:
  template <class Des>
  static void Pass(const Des& des, const uint8_t* in, uint8_t* out) {
    des.ProcessBlock(in, out);
    des.ProcessBlock(in + 8, out + 8);
    des.ProcessBlock(in + 16, out + 16);
  }
  static void Exchange(uint8_t* b) {
    uint8_t t[4];
    std::memcpy(t, b + 4, 4);
    std::memcpy(b + 4, b + 8, 4);
    std::memcpy(b + 8, t, 4);
  }

  CryptoPP::DES::Encryption e1_;
  CryptoPP::DES::Decryption d1_;
  CryptoPP::DES::Encryption e2_;
  CryptoPP::DES::Decryption d2_;
  CryptoPP::DES::Encryption e3_;
  CryptoPP::DES::Decryption d3_;
};

// Crypto++'s Rijndael encryption without AES-NI on x86 runs SSE2 code that
// keeps its working set in a mutable member of the key object, so const
// calls on one object must not overlap there. Every other core is stateless
// once keyed.
bool NeedsSerializing(uint8_t algorithm) {
#if CRYPTOPP_BOOL_X86 || CRYPTOPP_BOOL_X32 || CRYPTOPP_BOOL_X64
  return (algorithm == kRzvRijndael128 || algorithm == kRzvRijndael256) && !CryptoPP::HasAESNI();
#else
  (void)algorithm;
  return false;
#endif
}

template <class Core>
class Chain final : public RzvPageCipher::Impl {
 public:
  static constexpr size_t B = Core::kBlockSize;

  template <typename... Args>
  Chain(bool serialize, Args&&... args)
      : core_(std::forward<Args>(args)...), serialize_(serialize) {}

  size_t BlockSize() const override { return B; }

  void Encrypt(uint8_t* p, size_t n) const override {
    std::unique_lock<std::mutex> lock(mu_, std::defer_lock);
    if (serialize_) lock.lock();
    alignas(16) uint8_t f[B];
    std::memset(f, 0xFF, B);
    // Serial by construction: each block's input needs the previous output.
    for (; n >= B; p += B, n -= B) {
      core_.EncryptXorInput(p, f, p);
      XorInto<B>(f, p);
    }
    Tail(f, p, n);
  }

  void Decrypt(uint8_t* p, size_t n) const override {
    std::unique_lock<std::mutex> lock(mu_, std::defer_lock);
    if (serialize_) lock.lock();
    alignas(16) uint8_t f[B];
    std::memset(f, 0xFF, B);
    // F_i = IV ^ C_0 ^ ... ^ C_{i-1} needs only ciphertext: lay out the
    // feedback of a run of blocks first, then decrypt the whole run in one
    // call that xors it in.
    alignas(16) uint8_t feed[kRunBytes];
    while (n >= B) {
      const size_t run = std::min(n - n % B, kRunBytes);
      LayFeedback<B>(f, p, feed, run);
      core_.DecryptXorOutput(p, feed, p, run);
      p += run;
      n -= run;
    }
    Tail(f, p, n);
  }

 private:
  static constexpr size_t kRunBytes = (2048 / B) * B;

  void Tail(const uint8_t* f, uint8_t* p, size_t r) const {
    if (r == 0) return;
    alignas(16) uint8_t x[B];
    core_.EncryptBlock(f, x);
    for (size_t i = 0; i < r; ++i) p[i] ^= x[i];
  }

  Core core_;
  bool serialize_;
  mutable std::mutex mu_;
};

template <class Cipher>
std::unique_ptr<RzvPageCipher::Impl> MakeLibraryChain(uint8_t algorithm, const uint8_t* key,
                                                      size_t len) {
  return std::make_unique<Chain<LibraryCore<Cipher>>>(NeedsSerializing(algorithm), key, len);
}

bool KeyLengthFits(uint8_t algorithm, size_t len) {
  switch (algorithm) {
    case kRzvRijndael128:
    case kRzvRijndael256:
      return CryptoPP::Rijndael::StaticGetValidKeyLength(len) == len;
    case kRzvDesSingle:
      return len == CryptoPP::DES::KEYLENGTH;
    case kRzvDesTriple:
      return len == 16 || len == 24;
    case kRzvBlowfish:
      return CryptoPP::Blowfish::StaticGetValidKeyLength(len) == len;
    case kRzvTwofish128:
    case kRzvTwofish256:
      return CryptoPP::Twofish::StaticGetValidKeyLength(len) == len;
    case kRzvSquare:
      return CryptoPP::Square::StaticGetValidKeyLength(len) == len;
    default:
      return false;
  }
}

// Builds the chain for a valid id from a key of a length the cipher takes.
std::unique_ptr<RzvPageCipher::Impl> MakeChain(uint8_t algorithm, const uint8_t* key, size_t len) {
  switch (algorithm) {
    case kRzvRijndael128:
    case kRzvRijndael256:
      return MakeLibraryChain<CryptoPP::Rijndael>(algorithm, key, len);
    case kRzvDesSingle:
      return MakeLibraryChain<CryptoPP::DES>(algorithm, key, len);
    case kRzvDesTriple: {
      CryptoPP::SecByteBlock key24;
      key24.CleanNew(24);  // K3 = 8 zero bytes
      std::memcpy(key24.data(), key, std::min<size_t>(len, 24));
      return std::make_unique<Chain<TripleDesCore>>(false, key24.data());
    }
    case kRzvBlowfish:
      return MakeLibraryChain<CryptoPP::Blowfish>(algorithm, key, len);
    case kRzvTwofish128:
    case kRzvTwofish256:
      return MakeLibraryChain<CryptoPP::Twofish>(algorithm, key, len);
    case kRzvSquare:
      return MakeLibraryChain<CryptoPP::Square>(algorithm, key, len);
    default:
      return nullptr;
  }
}

// Key bytes for a valid id; see RzvDerivePageKey.
CryptoPP::SecByteBlock DeriveKey(const RzvCryptoAlgorithmInfo& info, std::string_view password) {
  const auto* bytes = reinterpret_cast<const CryptoPP::byte*>(password.data());
  CryptoPP::SecByteBlock digest;
  if (info.key_hash == RzvKeyHash::kRipemd128) {
    digest.New(CryptoPP::RIPEMD128::DIGESTSIZE);
    CryptoPP::RIPEMD128().CalculateDigest(digest.data(), bytes, password.size());
  } else {
    digest.New(CryptoPP::RIPEMD256::DIGESTSIZE);
    CryptoPP::RIPEMD256().CalculateDigest(digest.data(), bytes, password.size());
  }
  digest.resize(std::min(digest.size(), info.cipher_max_key));
  return digest;
}

}  // namespace

RzvPageCipher::RzvPageCipher(uint8_t algorithm, std::string_view password)
    : algorithm_(algorithm), password_(password), has_password_(true) {
  if (const RzvCryptoAlgorithmInfo* info = RzvFindCryptoAlgorithm(algorithm)) {
    CryptoPP::SecByteBlock key = DeriveKey(*info, password);
    impl_ = MakeChain(algorithm, key.data(), key.size());
  }
}

RzvPageCipher::RzvPageCipher(uint8_t algorithm, std::unique_ptr<Impl> impl, std::string password,
                             bool has_password)
    : algorithm_(algorithm),
      impl_(std::move(impl)),
      password_(std::move(password)),
      has_password_(has_password) {}

RzvPageCipher RzvPageCipher::FromRawKey(uint8_t algorithm, const void* key, size_t key_length) {
  if (!RzvIsValidCryptoAlgorithm(algorithm)) {
    throw RzvException::Format(10467, "Unknown crypto algorithm id = %d", algorithm);
  }
  if (!KeyLengthFits(algorithm, key_length)) {
    throw RzvException::Format(30435, "Invalid key length %d for crypto algorithm %s", key_length,
                               RzvCryptoAlgorithmName(algorithm));
  }
  return RzvPageCipher(algorithm,
                       MakeChain(algorithm, static_cast<const uint8_t*>(key), key_length),
                       std::string(), false);
}

RzvPageCipher::RzvPageCipher(RzvPageCipher&&) noexcept = default;
RzvPageCipher& RzvPageCipher::operator=(RzvPageCipher&&) noexcept = default;
RzvPageCipher::~RzvPageCipher() = default;

size_t RzvPageCipher::BlockSize() const {
  return impl_ ? impl_->BlockSize() : 0;
}

namespace {

// One direction of Encrypt / Decrypt. A valid id without a chain is a
// moved-from cipher: fail rather than pass the bytes through in clear. The
// direction is a lambda rather than a member pointer so that the page path
// keeps a plain virtual call.
template <typename Direction>
bool RunChain(const RzvPageCipher::Impl* impl, uint8_t algorithm, void* buf, size_t len,
              Direction direction) {
  if (!impl) return !RzvIsValidCryptoAlgorithm(algorithm);
  if (len == 0) return true;
  if (buf == nullptr) return false;
  try {
    direction(*impl, static_cast<uint8_t*>(buf), len);
  } catch (const CryptoPP::Exception&) {
    return false;
  }
  return true;
}

}  // namespace

bool RzvPageCipher::Encrypt(void* buf, size_t len) const {
  return RunChain(impl_.get(), algorithm_, buf, len,
                  [](const Impl& chain, uint8_t* p, size_t n) { chain.Encrypt(p, n); });
}

bool RzvPageCipher::Decrypt(void* buf, size_t len) const {
  return RunChain(impl_.get(), algorithm_, buf, len,
                  [](const Impl& chain, uint8_t* p, size_t n) { chain.Decrypt(p, n); });
}

bool RzvPageCipher::EncryptPage(void* page, size_t page_size) const {
  if (page == nullptr || page_size < kDataOffset) return false;
  auto* p = static_cast<uint8_t*>(page);
  uint8_t* data = p + kDataOffset;
  const size_t n = page_size - kDataOffset;
  StoreLE<uint32_t>(p + kDataCrcOffset, RzvCrc32(data, n));
  p[kCryptoAlgorithmOffset] = algorithm_;
  return Encrypt(data, n);
}

bool RzvPageCipher::DecryptPage(void* page, size_t page_size) const {
  if (page == nullptr || page_size < kDataOffset) return false;
  auto* p = static_cast<uint8_t*>(page);
  uint8_t* data = p + kDataOffset;
  const size_t n = page_size - kDataOffset;
  const uint8_t stamped = p[kCryptoAlgorithmOffset];
  bool ok;
  if (stamped == algorithm_) {
    ok = Decrypt(data, n);
  } else if (has_password_) {
    ok = RzvPageCipher(stamped, password_).Decrypt(data, n);
  } else {
    return false;
  }
  return ok && RzvCrc32(data, n) == LoadLE<uint32_t>(p + kDataCrcOffset);
}

void RzvPageCipher::DecryptPageOrThrow(void* page, size_t page_size, int32_t page_no) const {
  if (!DecryptPage(page, page_size)) {
    throw RzvException::Format(30446, "Decrypt page error. Check CRC failed. PageNo: %d", page_no);
  }
}

std::vector<uint8_t> RzvDerivePageKey(uint8_t algorithm, std::string_view password) {
  const RzvCryptoAlgorithmInfo* info = RzvFindCryptoAlgorithm(algorithm);
  if (!info) return {};
  CryptoPP::SecByteBlock key = DeriveKey(*info, password);
  return std::vector<uint8_t>(key.begin(), key.end());
}

bool EncryptBuffer(uint8_t algorithm, void* buffer, size_t length, const std::string& password) {
  return RzvPageCipher(algorithm, password).Encrypt(buffer, length);
}

bool DecryptBuffer(uint8_t algorithm, void* buffer, size_t length, const std::string& password) {
  return RzvPageCipher(algorithm, password).Decrypt(buffer, length);
}

}  // namespace rzv

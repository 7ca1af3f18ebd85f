#include "engine/storage/ppmd_model.h"

#include <array>
#include <cstring>

namespace rzv {

namespace {

constexpr uint32_t kMaxFreq = 124;
constexpr uint32_t kPeriodBits = 7;
constexpr uint32_t kInterval = 128;
constexpr uint32_t kBinScale = 1u << 14;
constexpr uint32_t kUnit = RzvPpmdSubAllocator::kUnitSize;
constexpr uint32_t kStateSize = 6;

constexpr uint16_t kInitBinEsc[16] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x5FFB, 0x5545,
                                      0x63D1, 0x5D9D, 0x64A1, 0x5ABC, 0x6632, 0x6051,
                                      0x68F6, 0x549B, 0x6BCA, 0x3AB0};

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Column base of the binary SEE table by the suffix's symbol count, n - 1.
constexpr std::array<uint8_t, 256> kNs2BsIndx = [] {
  std::array<uint8_t, 256> t{};
  for (uint32_t n = 1; n <= 256; ++n) t[n - 1] = n <= 6 ? 2 * (n - 1) : n <= 50 ? 12 : 14;
  return t;
}();

// SEE row by the number of unmasked symbols, d - 1.
constexpr std::array<uint8_t, 256> kNs2Indx = [] {
  std::array<uint8_t, 256> t{};
  for (uint32_t d = 1; d <= 256; ++d) {
    uint32_t v;
    if (d <= 4) {
      v = d - 1;
    } else if (d <= 12) {
      v = 4 + (d - 5) / 2;
    } else if (d <= 44) {
      v = 8 + (d - 13) / 4;
    } else {
      v = 16 + (d - 45) / 8;
    }
    t[d - 1] = static_cast<uint8_t>(v < 42 ? v : 42);
  }
  return t;
}();

// Raised for a model inconsistency that only a coder bug could cause; the
// coder turns it into a failure instead of touching memory it does not own.
struct ModelBroken {};

}  // namespace

RzvPpmdModel::RzvPpmdModel(RzvPpmdSubAllocator* allocator, int max_order)
    : alloc_(allocator), heap_(allocator->Base()), max_order_(max_order) {
  StartModel();
}

uint32_t RzvPpmdModel::Load32(uint32_t ref) const {
  uint32_t v;
  std::memcpy(&v, heap_ + ref, 4);
  return v;
}
void RzvPpmdModel::Store32(uint32_t ref, uint32_t v) {
  std::memcpy(heap_ + ref, &v, 4);
}
uint16_t RzvPpmdModel::NumStats(uint32_t ctx) const {
  uint16_t v;
  std::memcpy(&v, heap_ + ctx, 2);
  return v;
}
void RzvPpmdModel::SetNumStats(uint32_t ctx, uint32_t n) {
  const auto v = static_cast<uint16_t>(n);
  std::memcpy(heap_ + ctx, &v, 2);
}
uint16_t RzvPpmdModel::SummFreq(uint32_t ctx) const {
  uint16_t v;
  std::memcpy(&v, heap_ + ctx + 2, 2);
  return v;
}
void RzvPpmdModel::SetSummFreq(uint32_t ctx, uint32_t s) {
  const auto v = static_cast<uint16_t>(s);
  std::memcpy(heap_ + ctx + 2, &v, 2);
}

void RzvPpmdModel::SwapStates(uint32_t a, uint32_t b) {
  uint8_t t[kStateSize];
  std::memcpy(t, heap_ + a, kStateSize);
  std::memmove(heap_ + a, heap_ + b, kStateSize);
  std::memcpy(heap_ + b, t, kStateSize);
}

uint32_t RzvPpmdModel::FindState(uint32_t ctx, uint8_t symbol) const {
  const uint32_t n = NumStats(ctx);
  if (n == 1) {
    if (Symbol(OneState(ctx)) != symbol) throw ModelBroken{};
    return OneState(ctx);
  }
  if (n == 0) throw ModelBroken{};
  uint32_t s = Stats(ctx);
  for (uint32_t i = 0; i < n; ++i, s += kStateSize) {
    if (Symbol(s) == symbol) return s;
  }
  throw ModelBroken{};
}

void RzvPpmdModel::ClearMask() {
  esc_count_ = 1;
  std::memset(char_mask_, 0, sizeof char_mask_);
}

void RzvPpmdModel::StartModel() {
  RestartModel();
  ClearMask();
}

// The model as at the start: the order-0 root with all 256 symbols, then a
// chain of binary contexts for symbol 0 up to a placeholder at MaxOrder, as if
// MaxOrder zero bytes had come before the data.
void RzvPpmdModel::RestartModel() {
  alloc_->Reset();
  std::memset(char_mask_, 0, sizeof char_mask_);

  const uint32_t root = alloc_->AllocContext();
  SetNumStats(root, 256);
  SetSummFreq(root, 257);
  const uint32_t stats = alloc_->AllocUnits(128);
  SetStats(root, stats);
  SetSuffix(root, 0);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t s = stats + i * kStateSize;
    heap_[s] = static_cast<uint8_t>(i);
    heap_[s + 1] = 1;
    SetSuccessor(s, 0);
  }

  uint32_t ctx = root;
  uint32_t zero_state = stats;
  for (int order = 1; order < max_order_; ++order) {
    const uint32_t c = alloc_->AllocContext();
    SetNumStats(c, 1);
    heap_[OneState(c)] = 0;
    heap_[OneState(c) + 1] = 1;
    SetSuccessor(OneState(c), 0);
    SetSuffix(c, ctx);
    SetSuccessor(zero_state, c);
    ctx = c;
    zero_state = OneState(c);
  }
  const uint32_t placeholder = alloc_->AllocContext();
  std::memset(heap_ + placeholder, 0, kUnit);
  SetSuffix(placeholder, ctx);
  SetSuccessor(zero_state, placeholder);

  min_ctx_ = med_ctx_ = ctx;
  max_ctx_ = placeholder;
  found_ = 0;
  order_fall_ = 1;
  prev_success_ = 0;
  esc_count_ = 0;

  for (uint32_t i = 0; i < 128; ++i) {
    for (uint32_t k = 0; k < 16; ++k) {
      bin_summ_[i][k] = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
    }
  }
  for (uint32_t i = 0; i < 43; ++i) {
    for (See& see : see_[i]) see = See{static_cast<uint16_t>((4 * i + 10) << 3), 3, 3};
  }
  dummy_see_ = See{0, kPeriodBits, 64};
}

uint16_t& RzvPpmdModel::BinSummCell(uint32_t ctx) {
  const uint32_t f = Freq(OneState(ctx));
  const uint32_t suffix_stats = NumStats(Suffix(ctx));
  const uint32_t column = prev_success_ + kNs2BsIndx[(suffix_stats - 1) & 0xFF];
  return bin_summ_[(f - 1) & 0x7F][column];
}

void RzvPpmdModel::BinaryHit(uint16_t& bs) {
  const uint32_t s = OneState(min_ctx_);
  const uint32_t f = Freq(s);
  SetFreq(s, f + (f < 128 ? 1 : 0));
  bs = static_cast<uint16_t>(bs + kInterval - ((bs + 32) >> kPeriodBits));
  prev_success_ = 1;
  found_ = s;
}

void RzvPpmdModel::BinaryMiss(uint16_t& bs) {
  bs = static_cast<uint16_t>(bs - ((bs + 32) >> kPeriodBits));
  init_esc_ = kExpEscape[bs >> 10];
  char_mask_[Symbol(OneState(min_ctx_))] = esc_count_;
  num_masked_ = 1;
  prev_success_ = 0;
  found_ = 0;
}

void RzvPpmdModel::FirstAttemptHit(uint32_t ctx, uint32_t s, bool first) {
  const uint32_t f = Freq(s);
  if (first) {
    prev_success_ = 2 * f > SummFreq(ctx) ? 1 : 0;
    SetFreq(s, f + 4);
    SetSummFreq(ctx, SummFreq(ctx) + 4);
    found_ = s;
    if (f + 4 > kMaxFreq) Rescale();
    return;
  }
  prev_success_ = 0;
  SetFreq(s, f + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  found_ = s;
  if (Freq(s) > Freq(s - kStateSize)) {
    SwapStates(s, s - kStateSize);
    found_ = s - kStateSize;
    if (Freq(found_) > kMaxFreq) Rescale();
  }
}

void RzvPpmdModel::MaskAll(uint32_t ctx) {
  const uint32_t n = NumStats(ctx);
  uint32_t s = Stats(ctx);
  for (uint32_t i = 0; i < n; ++i, s += kStateSize) char_mask_[Symbol(s)] = esc_count_;
  num_masked_ = n;
}

RzvPpmdModel::See* RzvPpmdModel::MakeEscFreq(uint32_t ctx, uint32_t* esc) {
  const uint32_t n = NumStats(ctx);
  if (n == 256) {
    *esc = 1;
    return &dummy_see_;
  }
  const uint32_t d = n - num_masked_;
  const uint32_t suffix_stats = NumStats(Suffix(ctx));
  const uint32_t column = (d < suffix_stats - n ? 1 : 0) + 2 * (SummFreq(ctx) < 11 * n ? 1 : 0) +
                          4 * (num_masked_ > d ? 1 : 0);
  See* see = &see_[kNs2Indx[(d - 1) & 0xFF]][column];
  uint32_t r = see->summ >> see->shift;
  see->summ = static_cast<uint16_t>(see->summ - r);
  r &= 0x3FF;
  *esc = r != 0 ? r : 1;
  return see;
}

void RzvPpmdModel::MaskedHit(See* see, uint32_t s) {
  if (see->shift < kPeriodBits && --see->count == 0) {
    see->summ = static_cast<uint16_t>(see->summ * 2);
    see->count = static_cast<uint8_t>(3 << see->shift);
    ++see->shift;
  }
  found_ = s;
  SetFreq(s, Freq(s) + 4);
  SetSummFreq(min_ctx_, SummFreq(min_ctx_) + 4);
  if (Freq(s) > kMaxFreq) Rescale();
  ++esc_count_;
}

bool RzvPpmdModel::EscapeToSuffix() {
  do {
    ++order_fall_;
    min_ctx_ = Suffix(min_ctx_);
    if (min_ctx_ == 0) return false;
  } while (NumStats(min_ctx_) == num_masked_);
  return true;
}

void RzvPpmdModel::AfterFound() {
  const uint32_t successor = Successor(found_);
  if (order_fall_ == 0 && IsBuilt(successor)) {
    min_ctx_ = med_ctx_ = successor;
    return;
  }
  UpdateModel();
  if (esc_count_ == 0) ClearMask();
}

bool RzvPpmdModel::EncodeSymbol(RzvPpmdRangeEncoder* rc, int symbol) {
  try {
    EncodeStep(rc, symbol);
    return true;
  } catch (const ModelBroken&) {
    return false;
  }
}

void RzvPpmdModel::EncodeStep(RzvPpmdRangeEncoder* rc, int symbol) {
  const uint32_t ctx = min_ctx_;
  if (NumStats(ctx) != 1) {
    const uint32_t n = NumStats(ctx);
    const uint32_t total = SummFreq(ctx);
    uint32_t s = Stats(ctx);
    uint32_t lo = 0;
    found_ = 0;
    for (uint32_t i = 0; i < n; ++i, s += kStateSize) {
      if (Symbol(s) == symbol) {
        rc->Encode(lo, Freq(s), total);
        FirstAttemptHit(ctx, s, i == 0);
        break;
      }
      lo += Freq(s);
    }
    if (found_ == 0) {
      rc->Encode(lo, total - lo, total);
      MaskAll(ctx);
      prev_success_ = 0;
    }
  } else {
    uint16_t& bs = BinSummCell(ctx);
    if (Symbol(OneState(ctx)) == symbol) {
      rc->EncodeBinary(0, bs);
      BinaryHit(bs);
    } else {
      rc->EncodeBinary(bs, kBinScale - bs);
      BinaryMiss(bs);
    }
  }
  while (found_ == 0) {
    rc->Normalize();
    if (!EscapeToSuffix()) {
      // Only the end marker may escape past the root, which holds every byte.
      if (symbol != kEndOfData) throw ModelBroken{};
      return;
    }
    uint32_t esc;
    See* see = MakeEscFreq(min_ctx_, &esc);
    const uint32_t n = NumStats(min_ctx_);
    uint32_t s = Stats(min_ctx_);
    uint32_t sum = 0;
    uint32_t hit = 0;
    uint32_t lo = 0;
    for (uint32_t i = 0; i < n; ++i, s += kStateSize) {
      if (char_mask_[Symbol(s)] == esc_count_) continue;
      if (Symbol(s) == symbol) {
        hit = s;
        lo = sum;
      }
      sum += Freq(s);
    }
    const uint32_t total = sum + esc;
    if (hit != 0) {
      rc->Encode(lo, Freq(hit), total);
      MaskedHit(see, hit);
    } else {
      rc->Encode(sum, esc, total);
      see->summ = static_cast<uint16_t>(see->summ + total);
      MaskAll(min_ctx_);
    }
  }
  AfterFound();
  rc->Normalize();
}

int RzvPpmdModel::DecodeSymbol(RzvPpmdRangeDecoder* rc) {
  try {
    const uint32_t ctx = min_ctx_;
    int symbol = 0;
    if (NumStats(ctx) != 1) {
      const uint32_t n = NumStats(ctx);
      const uint32_t total = SummFreq(ctx);
      if (total == 0) return kCorrupt;
      const uint32_t count = rc->GetFreq(total);
      if (count >= total) return kCorrupt;
      uint32_t s = Stats(ctx);
      uint32_t hi = 0;
      found_ = 0;
      for (uint32_t i = 0; i < n; ++i, s += kStateSize) {
        hi += Freq(s);
        if (count < hi) {
          symbol = Symbol(s);
          rc->Decode(hi - Freq(s), Freq(s));
          FirstAttemptHit(ctx, s, i == 0);
          break;
        }
      }
      if (found_ == 0) {
        if (hi >= total) return kCorrupt;
        rc->Decode(hi, total - hi);
        MaskAll(ctx);
        prev_success_ = 0;
      }
    } else {
      uint16_t& bs = BinSummCell(ctx);
      if (rc->GetBinaryFreq() < bs) {
        symbol = Symbol(OneState(ctx));
        rc->Decode(0, bs);
        BinaryHit(bs);
      } else {
        rc->Decode(bs, kBinScale - bs);
        BinaryMiss(bs);
      }
    }
    while (found_ == 0) {
      rc->Normalize();
      if (rc->Overrun()) return kCorrupt;
      if (!EscapeToSuffix()) return kEndOfData;
      uint32_t esc;
      See* see = MakeEscFreq(min_ctx_, &esc);
      const uint32_t n = NumStats(min_ctx_);
      uint32_t unmasked[256];
      uint32_t m = 0;
      uint32_t sum = 0;
      uint32_t s = Stats(min_ctx_);
      for (uint32_t i = 0; i < n; ++i, s += kStateSize) {
        if (char_mask_[Symbol(s)] == esc_count_) continue;
        if (m == 256) return kCorrupt;
        unmasked[m++] = s;
        sum += Freq(s);
      }
      const uint32_t total = sum + esc;
      const uint32_t count = rc->GetFreq(total);
      if (count >= total) return kCorrupt;
      if (count < sum) {
        uint32_t hi = 0;
        uint32_t k = 0;
        while ((hi += Freq(unmasked[k])) <= count) ++k;
        const uint32_t hit = unmasked[k];
        symbol = Symbol(hit);
        rc->Decode(hi - Freq(hit), Freq(hit));
        MaskedHit(see, hit);
      } else {
        rc->Decode(sum, esc);
        see->summ = static_cast<uint16_t>(see->summ + total);
        MaskAll(min_ctx_);
      }
    }
    AfterFound();
    rc->Normalize();
    if (rc->Overrun()) return kCorrupt;
    return symbol;
  } catch (const ModelBroken&) {
    return kCorrupt;
  }
}

// Halves the frequencies of the current context once one of them passed
// MaxFreq; the found state ends up first.
void RzvPpmdModel::Rescale() {
  const uint32_t ctx = min_ctx_;
  const uint32_t old_n = NumStats(ctx);
  const uint32_t stats = Stats(ctx);
  for (uint32_t s = found_; s != stats; s -= kStateSize) SwapStates(s, s - kStateSize);
  SetFreq(stats, Freq(stats) + 4);
  SetSummFreq(ctx, SummFreq(ctx) + 4);
  uint32_t esc = SummFreq(ctx) - Freq(stats);
  const uint32_t adder = order_fall_ != 0 ? 1 : 0;
  SetFreq(stats, (Freq(stats) + adder) >> 1);
  uint32_t sum = Freq(stats);
  for (uint32_t i = 1; i < old_n; ++i) {
    const uint32_t s = stats + i * kStateSize;
    esc -= Freq(s);
    SetFreq(s, (Freq(s) + adder) >> 1);
    sum += Freq(s);
    if (Freq(s) > Freq(s - kStateSize)) {
      // Stable insertion: the state moves up past every smaller frequency.
      uint8_t tmp[kStateSize];
      std::memcpy(tmp, heap_ + s, kStateSize);
      uint32_t p = s;
      do {
        std::memcpy(heap_ + p, heap_ + p - kStateSize, kStateSize);
        p -= kStateSize;
      } while (p != stats && tmp[1] > Freq(p - kStateSize));
      std::memcpy(heap_ + p, tmp, kStateSize);
    }
  }
  uint32_t n = old_n;
  if (Freq(stats + (n - 1) * kStateSize) == 0) {
    uint32_t zeros = 0;
    while (n > 0 && Freq(stats + (n - 1) * kStateSize) == 0) {
      ++zeros;
      --n;
    }
    esc += zeros;
    SetNumStats(ctx, n);
    if (n == 1) {
      uint8_t tmp[kStateSize];
      std::memcpy(tmp, heap_ + stats, kStateSize);
      do {
        tmp[1] = static_cast<uint8_t>(tmp[1] - (tmp[1] >> 1));
        esc >>= 1;
      } while (esc > 1);
      alloc_->FreeUnits(stats, (old_n + 1) >> 1);
      std::memcpy(heap_ + OneState(ctx), tmp, kStateSize);
      found_ = OneState(ctx);
      return;
    }
  }
  SetSummFreq(ctx, sum + esc - (esc >> 1));
  SetStats(ctx, alloc_->ShrinkUnits(stats, (old_n + 1) >> 1, (n + 1) >> 1));
  found_ = Stats(ctx);
}

// The placeholder U stands for "the context after the found symbol" at every
// level whose state for that symbol still points at it; its inline slot holds
// the byte that came next and the placeholder after that one. Each such level
// gets its own binary context predicting that byte, deepest first, so that
// every new context's suffix is the one made just below it. At the top order
// U itself becomes the top context. A real context found on the way down
// ends the walk: it is the suffix of the lowest new context.
bool RzvPpmdModel::BuildChain(ChainStart start, uint32_t p1) {
  const uint32_t up = Successor(found_);
  if (up == 0) throw ModelBroken{};
  const uint8_t symbol = Symbol(found_);
  uint32_t collected[RzvPpmdModel::kMaxOrder + 2];
  uint32_t num = 0;
  uint32_t c = min_ctx_;
  if (start == ChainStart::kFoundState) collected[num++] = found_;
  if (start == ChainStart::kSuffixSuffix) {
    c = Suffix(c);
    p1 = 0;
  }
  while (c != 0 && Suffix(c) != 0) {
    c = Suffix(c);
    uint32_t s;
    if (p1 != 0) {
      s = p1;
      p1 = 0;
    } else {
      s = FindState(c, symbol);
    }
    if (Successor(s) != up) {
      c = Successor(s);
      break;
    }
    if (num == sizeof collected / sizeof collected[0]) throw ModelBroken{};
    collected[num++] = s;
  }
  if (!IsBuilt(c)) throw ModelBroken{};

  // Frequency the new contexts inherit for the symbol the placeholder holds.
  const uint32_t up_state = OneState(up);
  uint32_t freq;
  if (NumStats(c) != 1) {
    const uint32_t s = FindState(c, Symbol(up_state));
    const uint32_t cf = Freq(s) - 1u;
    const uint32_t s0 = SummFreq(c) - NumStats(c) - cf;
    if (2 * cf <= s0) {
      freq = 1 + (5 * cf > s0 ? 1 : 0);
    } else {
      freq = 1 + (2 * cf + 3 * s0 - 1) / (2 * (s0 != 0 ? s0 : 1));
    }
  } else {
    freq = Freq(OneState(c));
  }
  SetFreq(up_state, freq);

  while (num > 0) {
    const uint32_t nc = alloc_->AllocContext();
    if (nc == 0) return false;
    SetNumStats(nc, 1);
    std::memcpy(heap_ + OneState(nc), heap_ + up_state, kStateSize);
    SetSuffix(nc, c);
    SetSuccessor(collected[--num], nc);
    c = nc;
  }
  if (order_fall_ == 0) {
    SetNumStats(up, 1);
    SetSuffix(up, c);
  }
  return true;
}

void RzvPpmdModel::UpdateModel() {
  const uint8_t fs_symbol = Symbol(found_);
  const uint32_t fs_freq = Freq(found_);
  const uint32_t fs_successor = Successor(found_);

  // Suffix reinforcement: the symbol also gains in the next lower context.
  uint32_t p1 = 0;
  const uint32_t suffix = Suffix(min_ctx_);
  if (fs_freq < 31 && suffix != 0) {
    if (NumStats(suffix) != 1) {
      uint32_t s = Stats(suffix);
      if (Symbol(s) != fs_symbol) {
        s = FindState(suffix, fs_symbol);
        if (Freq(s) >= Freq(s - kStateSize)) {
          SwapStates(s, s - kStateSize);
          s -= kStateSize;
        }
      }
      if (Freq(s) < 108) {
        SetFreq(s, Freq(s) + 2);
        SetSummFreq(suffix, SummFreq(suffix) + 2);
      }
      p1 = s;
    } else {
      const uint32_t s = OneState(suffix);
      if (Freq(s) < 32) SetFreq(s, Freq(s) + 1);
      p1 = s;
    }
  }

  if (order_fall_ == 0) {
    if (!BuildChain(ChainStart::kSuffixSuffix, 0)) {
      ++restarts_;
      RestartModel();
      return;
    }
    min_ctx_ = med_ctx_ = Successor(found_);
    return;
  }

  ChainStart start;
  uint32_t successor;
  if (--order_fall_ == 0) {
    start = ChainStart::kSuffix;
    successor = fs_successor;
  } else {
    start = ChainStart::kFoundState;
    successor = alloc_->AllocContext();
    if (successor == 0) {
      ++restarts_;
      RestartModel();
      return;
    }
    std::memset(heap_ + successor, 0, kUnit);
  }

  if (max_ctx_ != 0 && NumStats(max_ctx_) == 0) {
    heap_[OneState(max_ctx_)] = fs_symbol;
    SetSuccessor(OneState(max_ctx_), successor);
  }

  // Every context from where coding started down to the one that held the
  // symbol learns it.
  const uint32_t n = NumStats(min_ctx_);
  const uint32_t s0 = static_cast<uint32_t>(SummFreq(min_ctx_)) - n - (fs_freq - 1);
  for (uint32_t pc = med_ctx_; pc != min_ctx_; pc = Suffix(pc)) {
    if (pc == 0) throw ModelBroken{};
    const uint32_t m = NumStats(pc);
    if (m != 1) {
      if ((m & 1) == 0) {
        const uint32_t stats = alloc_->ExpandUnits(Stats(pc), m >> 1);
        if (stats == 0) {
          ++restarts_;
          RestartModel();
          return;
        }
        SetStats(pc, stats);
      }
      SetSummFreq(pc, SummFreq(pc) + (2 * m < n ? 1 : 0) +
                          2 * ((4 * m <= n ? 1 : 0) & (SummFreq(pc) <= 8 * m ? 1 : 0)));
    } else {
      const uint32_t stats = alloc_->AllocUnits(1);
      if (stats == 0) {
        ++restarts_;
        RestartModel();
        return;
      }
      std::memcpy(heap_ + stats, heap_ + OneState(pc), kStateSize);
      SetStats(pc, stats);
      uint32_t f = Freq(stats);
      f = f < 30 ? 2 * f : 120;
      SetFreq(stats, f);
      SetSummFreq(pc, f + init_esc_ + (n > 3 ? 1 : 0));
    }
    uint32_t cf = 2 * fs_freq * (SummFreq(pc) + 6u);
    const uint32_t sf = s0 + SummFreq(pc);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf ? 1 : 0) + (cf >= 4 * sf ? 1 : 0);
      SetSummFreq(pc, SummFreq(pc) + 3);
    } else {
      cf = 4 + (cf >= 9 * sf ? 1 : 0) + (cf >= 12 * sf ? 1 : 0) + (cf >= 15 * sf ? 1 : 0);
      SetSummFreq(pc, SummFreq(pc) + cf);
    }
    const uint32_t s = Stats(pc) + m * kStateSize;
    heap_[s] = fs_symbol;
    SetFreq(s, cf);
    SetSuccessor(s, successor);
    SetNumStats(pc, m + 1);
  }

  if (fs_successor != 0) {
    if (NumStats(fs_successor) == 0 && !BuildChain(start, p1)) {
      ++restarts_;
      RestartModel();
      return;
    }
    min_ctx_ = Successor(found_);
  } else {
    SetSuccessor(found_, successor);
    ++order_fall_;
  }
  med_ctx_ = min_ctx_;
  max_ctx_ = successor;
}

}  // namespace rzv

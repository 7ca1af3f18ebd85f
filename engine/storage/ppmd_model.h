// RzvPpmdModel: the PPMd var.G (PPMII) context model, shared by the encoder
// and the decoder so both sides evolve it identically. Every context and
// state lives in the sub-allocator's heap and is addressed by 32-bit offsets.
//
// Heap records (byte offsets within the record):
//   context, one unit: 0 u16 NumStats (0 = placeholder, not built yet),
//     2 u16 SummFreq, 4 u32 Stats, 8 u32 Suffix. With NumStats == 1 the only
//     state sits inline in bytes 2..7; a placeholder keeps the next symbol
//     and its successor in that slot.
//   state, 6 bytes, two per unit: 0 u8 Symbol, 1 u8 Freq, 2 u32 Successor.
#pragma once

#include <cstdint>

#include "engine/storage/ppmd_range_coder.h"
#include "engine/storage/ppmd_sub_allocator.h"

namespace rzv {

class RzvPpmdModel {
 public:
  static constexpr int kMinOrder = 2;
  static constexpr int kMaxOrder = 16;
  static constexpr int kEndOfData = -1;
  static constexpr int kCorrupt = -2;

  // The allocator must already be sized; the model starts fresh in it.
  RzvPpmdModel(RzvPpmdSubAllocator* allocator, int max_order);
  RzvPpmdModel(const RzvPpmdModel&) = delete;
  RzvPpmdModel& operator=(const RzvPpmdModel&) = delete;

  // Codes a byte, or kEndOfData for the end marker (escapes down past the
  // root). Normalizes the coder afterwards. False only on an internal model
  // inconsistency.
  bool EncodeSymbol(RzvPpmdRangeEncoder* rc, int symbol);
  // Returns the byte, kEndOfData at the end marker, or kCorrupt when the
  // stream cannot have come from the encoder.
  int DecodeSymbol(RzvPpmdRangeDecoder* rc);

  // Times the model ran out of memory and was rebuilt.
  int Restarts() const { return restarts_; }

 private:
  struct See {
    uint16_t summ;
    uint8_t shift;
    uint8_t count;
  };

  // Raw heap access; refs are byte offsets into the allocator's heap.
  uint8_t* At(uint32_t ref) const { return heap_ + ref; }
  uint16_t NumStats(uint32_t ctx) const;
  void SetNumStats(uint32_t ctx, uint32_t n);
  uint16_t SummFreq(uint32_t ctx) const;
  void SetSummFreq(uint32_t ctx, uint32_t v);
  uint32_t Stats(uint32_t ctx) const { return Load32(ctx + 4); }
  void SetStats(uint32_t ctx, uint32_t v) { Store32(ctx + 4, v); }
  uint32_t Suffix(uint32_t ctx) const { return Load32(ctx + 8); }
  void SetSuffix(uint32_t ctx, uint32_t v) { Store32(ctx + 8, v); }
  static uint32_t OneState(uint32_t ctx) { return ctx + 2; }
  uint8_t Symbol(uint32_t s) const { return heap_[s]; }
  uint8_t Freq(uint32_t s) const { return heap_[s + 1]; }
  void SetFreq(uint32_t s, uint32_t f) { heap_[s + 1] = static_cast<uint8_t>(f); }
  uint32_t Successor(uint32_t s) const { return Load32(s + 2); }
  void SetSuccessor(uint32_t s, uint32_t v) { Store32(s + 2, v); }
  void SwapStates(uint32_t a, uint32_t b);
  uint32_t Load32(uint32_t ref) const;
  void Store32(uint32_t ref, uint32_t v);
  // The state of symbol in a context known to hold it.
  uint32_t FindState(uint32_t ctx, uint8_t symbol) const;
  bool IsBuilt(uint32_t ctx) const { return ctx != 0 && NumStats(ctx) != 0; }

  void StartModel();
  void RestartModel();
  void ClearMask();

  // Binary context: the SEE cell and the first coding attempt's bookkeeping.
  uint16_t& BinSummCell(uint32_t ctx);
  void BinaryHit(uint16_t& bs);
  void BinaryMiss(uint16_t& bs);
  // Multi-symbol context, first attempt: state s was found; first = it is
  // the context's first state.
  void FirstAttemptHit(uint32_t ctx, uint32_t s, bool first);
  void MaskAll(uint32_t ctx);
  // Masked coding: the SEE cell and its escape estimate.
  See* MakeEscFreq(uint32_t ctx, uint32_t* esc);
  void MaskedHit(See* see, uint32_t s);
  // Moves down past contexts with nothing new; false when below the root.
  bool EscapeToSuffix();
  void EncodeStep(RzvPpmdRangeEncoder* rc, int symbol);
  void AfterFound();

  void Rescale();
  void UpdateModel();
  // Where the walk that collects the states pointing at the placeholder
  // successor of the found state begins.
  enum class ChainStart {
    kFoundState,    // below the top order: the found state gets a new context
    kSuffix,        // one level below the top: the placeholder becomes the top
    kSuffixSuffix,  // at the top order: the placeholder becomes the next
                    // top-order context, the suffix keeps pointing at it
  };
  // Builds real binary contexts for the collected states (p1, when set, is
  // the suffix state already known); false when the heap ran out.
  bool BuildChain(ChainStart start, uint32_t p1);

  RzvPpmdSubAllocator* alloc_;
  uint8_t* heap_;
  int max_order_;
  int restarts_ = 0;

  uint32_t min_ctx_ = 0;  // current context
  uint32_t med_ctx_ = 0;  // where the current symbol's coding started
  uint32_t max_ctx_ = 0;  // placeholder that receives the next symbol
  uint32_t found_ = 0;    // found state, 0 after an escape
  int order_fall_ = 0;
  uint32_t init_esc_ = 0;
  uint32_t prev_success_ = 0;
  uint32_t num_masked_ = 0;
  uint8_t esc_count_ = 0;

  uint8_t char_mask_[256];
  uint16_t bin_summ_[128][16];
  See see_[43][8];
  See dummy_see_;
};

}  // namespace rzv

// The request record of navigation inside a record manager or an index:
// which record to fetch relative to the current one, where to put it, and
// the outcome.
#pragma once

#include <cstdint>

#include "engine/table/record_id.h"

namespace rzv {

enum RzvGetRecordMode : uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };
enum RzvGetRecordResult : uint8_t { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };

struct RzvGetRecordRequest {
  RzvGetRecordMode Mode = grmCurrent;
  RzvRecordID RecordID;
  // Working-record buffer that receives the record; null to move only.
  uint8_t* Buffer = nullptr;
  bool BeforeFirst = false;
  bool AfterLast = false;
  RzvGetRecordResult Result = grOK;
};

}  // namespace rzv

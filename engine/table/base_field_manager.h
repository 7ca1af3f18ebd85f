// RzvBaseFieldManager: a table's field list and its autoincrement counters,
// one signed 64-bit counter per field (0 for fields that are not
// autoincrement). The counters are persisted in the table header as a 4-byte
// count followed by that many 8-byte values.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/table/field_def.h"
#include "engine/table/metadata_stream.h"
#include "engine/table/session_sequence_values.h"

namespace rzv {

class RzvBaseFieldManager {
 public:
  const RzvFieldDefs& FieldDefs() const { return field_defs_; }
  // Replaces the list (see RzvFieldDefs::Assign) and resets every
  // autoincrement counter to its field's InitialValue.
  void SetFieldDefs(const RzvFieldDefs& defs);
  // Reads a persisted field list, then resets the counters as SetFieldDefs.
  void ReadFieldDefs(RzvMetadataReader& in);

  const std::vector<int64_t>& AutoincLastValues() const { return autoinc_last_values_; }
  void WriteAutoincValues(RzvMetadataWriter& out) const;
  // Counters beyond the field count are dropped, missing ones keep their
  // value; nothing changes on a short read.
  void ReadAutoincValues(RzvMetadataReader& in);

  // Advances the field's counter by Increment (1 when Increment is 0) and
  // returns it. Past the limit (MaxValue when not 0, and never beyond what
  // the field's storage type holds) a cycled field restarts at MinValue;
  // otherwise "Autoinc max value exceeded for field '%s'" is raised.
  int64_t NextAutoincValue(int field_no);

  // On insert: every NULL autoincrement field of the working record gets the
  // next value, which the session records; a supplied value greater than the
  // counter raises the counter to it (and is recorded). A supplied value never
  // lowers the counter. On failure the record and the session are unchanged.
  void ApplyAutoincValues(RzvSessionSequenceValues& session, uint8_t* record);

  // The session's last value for the field; without one, the table's counter
  // (0 for a field that is not autoincrement), except in multi-user mode
  // where other sessions move the counter: then "No SequenceLastValue in
  // session for sequence '%s'. Call GetNextVal first".
  int64_t LastAutoincValue(const RzvSessionSequenceValues& session, bool multi_user,
                           int field_no) const;

 private:
  void ResetCounters();
  void CheckFieldNo(int field_no) const;

  RzvFieldDefs field_defs_;
  std::vector<int64_t> autoinc_last_values_;
};

}  // namespace rzv

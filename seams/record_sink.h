#pragma once

#include <optional>
#include <string>
#include <vector>

#include "seams/box_record.h"

namespace stbup {

// Where the records of boxes go: the seam between the front ends, which know
// when a box has ended, and the store, which may be slow, locked or absent.
// Implementations live with the store (records/); a build without one passes
// no sink at all.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // Takes the record for writing; returns at once, whatever the store does.
  virtual void Append(BoxRecord record) = 0;
  // What went wrong with the store, once: the first failure, then nothing
  // more for the life of the sink. Nothing when all is well so far.
  virtual std::optional<std::string> TakeProblem() = 0;
  // What the store did that the operator should hear of once each (records
  // kept aside for a later run, or taken in from an earlier one); nothing
  // new: empty.
  virtual std::vector<std::string> TakeNotes() { return {}; }
  // Every record appended so far has been tried (written or kept aside):
  // what TakeProblem says is then final for them. Never waits.
  virtual bool Settled() { return true; }
  // Waits until every record appended so far is written or kept aside: for
  // a front end about to end, never during an exchange. Bounded (10 s in all
  // for the records file).
  virtual void Flush() = 0;
};

// What the store has to tell the operator now, as "records: ..." texts: every
// problem not yet said (the file's, then the line's server's, once per
// cause), then the notes. Empty when there is nothing new.
std::vector<std::string> TakeRecordsNotices(RecordSink& sink);

}  // namespace stbup

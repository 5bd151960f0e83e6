#pragma once

#include <optional>
#include <string>

#include "app/core/box_record.h"

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
  // Waits until every record appended so far is written or dropped: for a
  // front end about to end, never during an exchange.
  virtual void Flush() = 0;
};

}  // namespace stbup

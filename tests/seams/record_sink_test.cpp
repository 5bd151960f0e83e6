#include "seams/record_sink.h"

#include <gtest/gtest.h>

#include <deque>

namespace stbup {
namespace {

// A store with several things to say, as a writer and its uploader may have.
class SayingSink : public RecordSink {
 public:
  void Append(BoxRecord) override {}
  std::optional<std::string> TakeProblem() override {
    if (problems.empty()) return std::nullopt;
    std::string problem = problems.front();
    problems.pop_front();
    return problem;
  }
  std::vector<std::string> TakeNotes() override { return std::exchange(notes, {}); }
  void Flush() override {}
  std::deque<std::string> problems;
  std::vector<std::string> notes;
};

TEST(RecordsNoticesTest, EveryProblemThenEveryNoteOnceEach) {
  SayingSink sink;
  sink.problems = {"/srv/r.sqlite3: cannot open", "the line's server (db): refused"};
  sink.notes = {"2 records kept in /srv/r.sqlite3.pending by an earlier run taken in"};
  EXPECT_EQ(TakeRecordsNotices(sink),
            (std::vector<std::string>{
                "records: /srv/r.sqlite3: cannot open", "records: the line's server (db): refused",
                "records: 2 records kept in /srv/r.sqlite3.pending by an earlier run taken in"}));
  EXPECT_TRUE(TakeRecordsNotices(sink).empty());
  sink.problems = {"the line's server (db): gone away"};
  EXPECT_EQ(TakeRecordsNotices(sink),
            std::vector<std::string>{"records: the line's server (db): gone away"});
}

}  // namespace
}  // namespace stbup

#include "seams/record_sink.h"

namespace stbup {

std::vector<std::string> TakeRecordsNotices(RecordSink& sink) {
  std::vector<std::string> said;
  // The file's problem and each of the server's causes are separate takes:
  // taking only one would hold the rest back until the next box, or lose
  // them at exit.
  while (std::optional<std::string> problem = sink.TakeProblem()) {
    said.push_back("records: " + *problem);
  }
  for (const std::string& note : sink.TakeNotes()) said.push_back("records: " + note);
  return said;
}

}  // namespace stbup

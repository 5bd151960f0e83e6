#include "cli/records_options.h"

namespace stbup {

std::optional<std::string> RecordsTarget::Operator() const {
  if (operator_name.empty()) return std::nullopt;
  return operator_name;
}

std::optional<std::string> RecordsTarget::WorkOrder() const {
  if (work_order.empty()) return std::nullopt;
  return work_order;
}

CLI::Option* AddRecordsServerOption(CLI::App& sub, std::string& server, const std::string& what) {
  return sub
      .add_option("--records-server", server,
                  what +
                      " (default: $STBUP_RECORDS_SERVER): a PostgreSQL URL "
                      "(postgresql://user@host:5432/db) or key words (host=... dbname=...); "
                      "passwords only from ~/.pgpass, PGPASSWORD or a service file")
      ->envname("STBUP_RECORDS_SERVER");
}

void AddRecordsTargetOptions(CLI::App& sub, RecordsTarget& target) {
  AddRecordsServerOption(sub, target.server,
                         "Also send each box's record to the line's PostgreSQL database");
  sub.add_option("--station-name", target.station_name,
                 "The station's name in each record (default: the host name)");
  sub.add_option("--operator", target.operator_name,
                 "Who runs the boxes, kept in each record (default: $STBUP_OPERATOR)")
      ->envname("STBUP_OPERATOR");
  sub.add_option("--order", target.work_order, "The work order the boxes belong to");
}

}  // namespace stbup

#pragma once

#include <optional>
#include <string>
#include <vector>

namespace stbup::testing {

// A PostgreSQL server of its own for a test program: a fresh cluster in a
// temporary folder, run as an unprivileged user when the test runs as root
// (the server refuses root), listening on a free 127.0.0.1 port and a
// private socket folder. A guard process stops it and removes the folder
// when the test process ends, however it ends.
//
// The superuser "stbup" logs in over the socket without a password and over
// TCP with kPassword, which the test process finds in a .pgpass file of its
// own (PGPASSFILE), as a station would.
class PostgresServer {
 public:
  static constexpr const char* kUser = "stbup";
  static constexpr const char* kPassword = "line-secret-7";

  // Why no server can be started here (no server binaries), else nothing.
  static std::optional<std::string> Unavailable();

  PostgresServer();  // throws std::runtime_error when the server will not start
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int port() const { return port_; }
  // A fresh database; a URL to it over TCP (the password from .pgpass).
  std::string CreateDatabase(const std::string& name);
  std::string Url(const std::string& database) const;
  // Runs SQL over the socket as the superuser; the first column of each row.
  std::vector<std::string> Sql(const std::string& database, const std::string& sql) const;

  // What the .pgpass file gives for TCP logins.
  void SetPassword(const std::string& password) const;
  void Stop();
  void Start();

 private:
  int Run(const std::vector<std::string>& args, bool as_server_user) const;
  std::string Bin(const std::string& program) const;

  std::string bin_;
  std::string dir_;
  std::string data_;
  int port_ = 0;
  int guard_pid_ = -1;
  int guard_pipe_ = -1;
  bool root_ = false;
};

}  // namespace stbup::testing

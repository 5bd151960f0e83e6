#include "tests/records_server/postgres_server.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace stbup::testing {

namespace {

// The unprivileged user and group a root test hands the cluster to.
constexpr uid_t kServerUid = 65534;
constexpr gid_t kServerGid = 65534;

std::string FindBin() {
  if (const char* given = std::getenv("STBUP_PG_BIN"); given != nullptr && *given != '\0') {
    return given;
  }
  std::error_code error;
  for (const char* version : {"15", "16", "17", "14"}) {
    const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin";
    if (std::filesystem::exists(bin + "/postgres", error)) return bin;
  }
  return {};
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

std::optional<std::string> PostgresServer::Unavailable() {
  const std::string bin = FindBin();
  if (bin.empty()) {
    return "no PostgreSQL server binaries (/usr/lib/postgresql/*/bin; Debian's postgresql-15)";
  }
  return std::nullopt;
}

std::string PostgresServer::Bin(const std::string& program) const { return bin_ + "/" + program; }

int PostgresServer::Run(const std::vector<std::string>& args, bool as_server_user) const {
  std::vector<std::string> command;
  if (as_server_user && root_) {
    command = {"setpriv", "--reuid=" + std::to_string(kServerUid),
               "--regid=" + std::to_string(kServerGid), "--clear-groups", "--"};
  }
  command.insert(command.end(), args.begin(), args.end());
  const pid_t child = ::fork();
  if (child == 0) {
    const int log = ::open((dir_ + "/commands.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) {
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (auto& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

PostgresServer::PostgresServer() : bin_(FindBin()), root_(::geteuid() == 0) {
  if (bin_.empty()) throw std::runtime_error(*Unavailable());
  char pattern[] = "/tmp/stbup-pg-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  dir_ = pattern;
  data_ = dir_ + "/data";
  if (root_ && ::chown(dir_.c_str(), kServerUid, kServerGid) != 0) {
    throw std::runtime_error("cannot hand " + dir_ + " to the server's user");
  }
  ::chmod(dir_.c_str(), 0755);
  port_ = FreePort();

  // The guard: in a session of its own, it waits for the test process to
  // close the pipe (by ending, whichever way), then stops the server.
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) throw std::runtime_error("no pipe for the server's guard");
  const pid_t guard = ::fork();
  if (guard == 0) {
    ::close(pipe_ends[1]);
    ::setsid();
    char byte;
    while (::read(pipe_ends[0], &byte, 1) != 0) {
    }
    Run({Bin("pg_ctl"), "-D", data_, "-m", "immediate", "-w", "stop"}, true);
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
    ::_exit(0);
  }
  ::close(pipe_ends[0]);
  ::fcntl(pipe_ends[1], F_SETFD, FD_CLOEXEC);
  guard_pid_ = guard;
  guard_pipe_ = pipe_ends[1];

  const std::string password_file = dir_ + "/initdb-password";
  std::ofstream(password_file) << kPassword << "\n";
  if (root_) ::chown(password_file.c_str(), kServerUid, kServerGid);
  if (Run({Bin("initdb"), "-D", data_, "-U", kUser, "--pwfile=" + password_file,
           "--auth-local=trust", "--auth-host=scram-sha-256", "-E", "UTF8", "--no-sync",
           "--locale=C"},
          true) != 0) {
    throw std::runtime_error("initdb failed; see " + dir_ + "/commands.log");
  }
  SetPassword(kPassword);
  Start();
}

PostgresServer::~PostgresServer() {
  ::close(guard_pipe_);
  int status = 0;
  ::waitpid(guard_pid_, &status, 0);
}

void PostgresServer::SetPassword(const std::string& password) const {
  const std::string path = dir_ + "/pgpass";
  {
    std::ofstream out(path, std::ios::trunc);
    out << "127.0.0.1:" << port_ << ":*:" << kUser << ":" << password << "\n";
  }
  ::chmod(path.c_str(), 0600);
  ::setenv("PGPASSFILE", path.c_str(), 1);
  ::unsetenv("PGPASSWORD");
}

void PostgresServer::Start() {
  const std::string options = "-p " + std::to_string(port_) + " -k " + dir_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off "
                              "-c synchronous_commit=off -c full_page_writes=off "
                              "-c max_connections=60";
  if (Run({Bin("pg_ctl"), "-D", data_, "-l", dir_ + "/server.log", "-o", options, "-w", "-t", "60",
           "start"},
          true) != 0) {
    throw std::runtime_error("the server did not start; see " + dir_ + "/server.log");
  }
}

void PostgresServer::Stop() { Run({Bin("pg_ctl"), "-D", data_, "-m", "fast", "-w", "stop"}, true); }

std::string PostgresServer::Url(const std::string& database) const {
  return "postgresql://" + std::string(kUser) + "@127.0.0.1:" + std::to_string(port_) + "/" +
         database;
}

std::vector<std::string> PostgresServer::Sql(const std::string& database,
                                             const std::string& sql) const {
  const std::string conninfo =
      "host=" + dir_ + " port=" + std::to_string(port_) + " user=" + kUser + " dbname=" + database;
  PGconn* conn = PQconnectdb(conninfo.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string error = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error("test SQL: " + error);
  }
  PGresult* result = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  std::vector<std::string> rows;
  if (status == PGRES_TUPLES_OK) {
    for (int row = 0; row < PQntuples(result); ++row) rows.push_back(PQgetvalue(result, row, 0));
  }
  const std::string error = PQresultErrorMessage(result);
  PQclear(result);
  PQfinish(conn);
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    throw std::runtime_error("test SQL: " + sql + ": " + error);
  }
  return rows;
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
  Sql("postgres", "CREATE DATABASE " + name);
  return Url(name);
}

}  // namespace stbup::testing

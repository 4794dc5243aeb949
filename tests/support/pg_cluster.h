// A throwaway PostgreSQL server for one test: its own cluster in a temporary folder, reached
// through a Unix socket there (nothing listens on the network), removed at the end. Run as the
// postgres user when the tests run as root, since the server refuses root.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

class PgCluster {
  public:
    PgCluster() {
        namespace fs = std::filesystem;
        for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec_))
            if (fs::exists(e.path() / "bin" / "initdb")) bin_ = (e.path() / "bin").string();
        if (bin_.empty()) {
            why_ = "no PostgreSQL server programs in /usr/lib/postgresql (make deps installs them)";
            return;
        }
        char tmpl[] = "/tmp/velt_pg_XXXXXX";
        if (!mkdtemp(tmpl)) {
            why_ = "no temporary folder";
            return;
        }
        dir_ = tmpl;
        if (geteuid() == 0) {
            const passwd* pg = getpwnam("postgres");
            if (!pg || chown(dir_.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
                why_ = "running as root and no postgres user to run the server as";
                return;
            }
            as_ = "runuser -u postgres -- ";
        }
        port_ = freePort();
        if (run(bin_ + "/initdb -D " + dir_ +
                "/data -U velt -A trust --no-sync -E UTF8 "
                "--locale=C >" +
                dir_ + "/initdb.log 2>&1") != 0) {
            why_ = "initdb failed (see " + dir_ + "/initdb.log)";
            return;
        }
        ok_ = start();
        if (!ok_) why_ = "the server did not start (see " + dir_ + "/server.log)";
    }
    ~PgCluster() {
        if (!dir_.empty()) {
            run(bin_ + "/pg_ctl -D " + dir_ + "/data -m immediate -w stop >/dev/null 2>&1");
            std::filesystem::remove_all(dir_, ec_);
        }
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    // postgresql://velt@%2Ftmp%2Fvelt_pg_x:PORT/postgres: the socket folder as the host.
    std::string uri() const {
        std::string host;
        for (char c : dir_) host += c == '/' ? std::string("%2F") : std::string(1, c);
        return "postgresql://velt@" + host + ":" + std::to_string(port_) + "/postgres";
    }
    bool start() {
        return run(bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ +
                   "/server.log -w -t 60 -o \"-k " + dir_ + " -p " + std::to_string(port_) +
                   " -c listen_addresses='' -c fsync=off\" start >/dev/null 2>&1") == 0;
    }
    // As an administrator stops it: connections are cut, the server goes down.
    bool stop() {
        return run(bin_ + "/pg_ctl -D " + dir_ + "/data -m fast -w -t 60 stop >/dev/null 2>&1") ==
               0;
    }

  private:
    int run(const std::string& command) const { return std::system((as_ + command).c_str()); }
    static int freePort() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        int port = 54329;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port = ntohs(a.sin_port);
        close(s);
        return port;
    }

    std::string bin_, dir_, as_, why_;
    int port_ = 0;
    bool ok_ = false;
    std::error_code ec_;
};

} // namespace testing_support

#include "support/linkrun.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/tmpdir.h"

namespace fs = std::filesystem;

namespace {

procspec job(const std::string& program, const std::vector<std::string>& args) {
  procspec j;
  j.argv.push_back(program);
  j.argv.insert(j.argv.end(), args.begin(), args.end());
  j.env.push_back("TZ=UTC");
  return j;
}

}  // namespace

procspec simjob(const std::vector<std::string>& args) { return job(PABXSIM, args); }

calllist readcalls(const std::string& path) {
  calllist list;
  std::istringstream in(readfile(path));
  for (std::string row; std::getline(in, row);) {
    std::vector<std::string> cols;
    std::istringstream fields(row);
    for (std::string c; std::getline(fields, c, '\t');) cols.push_back(c);
    if (cols.size() != 4) continue;
    ++list.rows;
    const std::string& status = cols[1];
    if ((status == "sent" || status == "replayed") && cols[3] != "-") list.stored += cols[3] + "\n";
    list.sent += status == "sent";
    list.replayed += status == "replayed";
    list.damaged += status == "damaged";
    if (status == "cut") {
      ++list.cut;
      list.cutseqs.push_back(cols[0]);
    }
  }
  return list;
}

int listeningport(childproc& p, const std::string& marker) {
  if (!p.waitfor_err(marker)) return 0;
  std::string err = p.err();
  return std::atoi(err.c_str() + err.find(marker) + marker.size());
}

int connectloopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) return fd;
  close(fd);
  return -1;
}

int freeport() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
  getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
  close(fd);
  return ntohs(sin.sin_port);
}

std::string readstore(const std::string& cdrdir, int* files) {
  std::vector<fs::path> hours;
  for (const auto& e : fs::recursive_directory_iterator(cdrdir))
    if (e.is_regular_file()) hours.push_back(e.path());
  // DD_MM_YYYY:hh sorts by day within a month; the month directories
  // MM_YYYY by month within a year: enough for the stores of the tests.
  std::sort(hours.begin(), hours.end());
  std::string all;
  for (const auto& h : hours) all += readfile(h.string());
  if (files) *files = static_cast<int>(hours.size());
  return all;
}

size_t linecount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

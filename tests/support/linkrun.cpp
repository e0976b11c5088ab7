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
procspec linkjob(const std::vector<std::string>& args) { return job(PKTAV_LINK, args); }

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

storemap readstore(const std::string& cdrdir) {
  storemap store;
  for (const auto& e : fs::recursive_directory_iterator(cdrdir))
    if (e.is_regular_file()) store[e.path().filename().string()] = readfile(e.path().string());
  return store;
}

storemap storeof(const std::string& lines) {
  storemap store;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    // The fourth field, DDMMYYhhmmss, names the file DD_MM_20YY:hh.
    size_t at = 0;
    for (int bar = 0; bar < 3; ++bar) at = line.find('|', at) + 1;
    std::string end = line.substr(at, 12);
    std::string name = end.substr(0, 2) + "_" + end.substr(2, 2) + "_20" + end.substr(4, 2) + ":" +
                       end.substr(6, 2);
    store[name] += line + "\n";
  }
  return store;
}

bool waitforlines(const std::string& cdrdir, size_t n, int timeout_ms) {
  for (int waited = 0;; waited += 50) {
    size_t have = 0;
    for (const auto& [name, content] : readstore(cdrdir)) have += linecount(content);
    if (have >= n) return true;
    if (waited >= timeout_ms) return false;
    usleep(50000);
  }
}

int connectfrom(const char* address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  inet_pton(AF_INET, address, &self.sin_addr);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
      connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0)
    return fd;
  close(fd);
  return -1;
}

size_t linecount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::map<std::string, std::string> readmetrics(const std::string& path) {
  std::map<std::string, std::string> samples;
  std::istringstream in(readfile(path));
  for (std::string line; std::getline(in, line);) {
    size_t blank = line.rfind(' ');
    if (line.empty() || line[0] == '#' || blank == std::string::npos) continue;
    samples[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return samples;
}


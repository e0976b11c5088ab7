// Long runs, too long for the suite; tests/stress/run runs them.
//
// - Ten million records through a pipe: the most memory the packer ever
//   held is the same (within 64 KiB) after one million and after ten.
// - 100,000 hour switches: the packer holds no more descriptors after
//   them than before.
// - A TCP peer that vanishes (its packets dropped, as when an exchange is
//   switched off): the packer notices within about two minutes and ends in
//   order, with its held calls written.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DEVIROZ7E;

// A field of /proc/<pid>/status in KiB, such as VmHWM, the peak resident size.
long statuskib(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

int descriptors(pid_t pid) {
  int n = 0;
  DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!d) return -1;
  while (readdir(d)) ++n;
  closedir(d);
  return n - 2;  // . and ..
}

// Writes records first .. first+count-1 (made by `call`) into the packer,
// then waits until it has read them all.
void feed(childproc& p, std::string (*call)(int), int first, int count) {
  std::string block;
  for (int i = first; i < first + count; ++i) {
    block += call(i);
    if (block.size() > (1 << 20)) {
      p.writein(block, 60000);
      block.clear();
    }
  }
  p.writein(block, 60000);
  p.drainin(60000);
}

std::string anycall(int i) { return bulkcall(recordformat::neax, i % 900000); }

TEST(LongRun, PeakMemoryStaysTheSameOverTenMillionRecords) {
  procspec job = packer(bin, {"-v"});
  job.stdinkind = procspec::pipe;
  job.stdoutpath = "/dev/null";
  childproc p(job);
  feed(p, anycall, 0, 1000000);
  const long atone = statuskib(p.pid(), "VmHWM");
  feed(p, anycall, 1000000, 9000000);
  const long atten = statuskib(p.pid(), "VmHWM");
  p.closein();
  procresult r = p.wait(60000);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  printf("peak resident size: %ld KiB after 1,000,000 records, %ld KiB after 10,000,000\n", atone,
         atten);
  EXPECT_GT(atone, 0);
  EXPECT_LE(atten - atone, 64);
}

// Call i ends at 10:30 on even i, at 11:30 on odd i: every call switches
// the hour file.
std::string switchingcall(int i) {
  std::string rec = bulkcall(recordformat::neax, i % 900000);
  if (i % 2) {
    rec.replace(24, 2, "11");  // start hour
    rec.replace(34, 2, "11");  // end hour
  }
  return rec;
}

TEST(LongRun, HourSwitchesLeaveNoDescriptorBehind) {
  tmpdir dir;
  procspec job = packer(bin, {"-v", "-o", dir.path()});
  job.stdinkind = procspec::pipe;
  childproc p(job);
  feed(p, switchingcall, 0, 1000);
  const int before = descriptors(p.pid());
  feed(p, switchingcall, 1000, 100000);
  const int after = descriptors(p.pid());
  p.closein();
  procresult r = p.wait(60000);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  printf("descriptors: %d after 1,000 hour switches, %d after 101,000\n", before, after);
  const std::string y = "20" + thisyear(), day = "/01_" + y + "/01_01_" + y + "/01_01_" + y;
  EXPECT_EQ(occurrences(readfile(dir.path() + day + ":10"), "\n"), 50500);
  EXPECT_EQ(occurrences(readfile(dir.path() + day + ":11"), "\n"), 50500);
  EXPECT_GT(before, 0);
  EXPECT_EQ(after, before);
}

// Takes the loopback interface of this network namespace down or up.
bool setloopback(bool up) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq ifr{};
  snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "lo");
  bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags = static_cast<short>(up ? ifr.ifr_flags | IFF_UP : ifr.ifr_flags & ~IFF_UP);
  ok = ok && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  close(s);
  return ok;
}

// Run inside a private network namespace (netjail, as root): with its one
// interface down, nothing the packer sends reaches its peer, and nothing
// comes back, not even a reset.
TEST(VanishedPeer, EndsInOrderWithinTwoMinutesOfTheLastByte) {
  int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
  ASSERT_EQ(listen(l, 1), 0);
  getsockname(l, reinterpret_cast<sockaddr*>(&sin), &len);
  childproc p(packer(bin, {"-v", "-i", "127.0.0.1:" + std::to_string(ntohs(sin.sin_port))}));
  int peer = accept(l, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  const std::string calls = neaxcalls(0, 30);
  ASSERT_EQ(write(peer, calls.data(), calls.size()), static_cast<ssize_t>(calls.size()));
  ASSERT_TRUE(p.waitfor_out(neaxlines(0, 7)));
  if (!setloopback(false)) GTEST_SKIP() << "cannot take loopback down here";
  const auto down = std::chrono::steady_clock::now();
  procresult r = p.wait(240000);
  const auto took = std::chrono::steady_clock::now() - down;
  setloopback(true);
  close(peer);
  close(l);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 30));
  const long seconds = std::chrono::duration_cast<std::chrono::seconds>(took).count();
  printf("the packer ended %ld s after its peer vanished\n", seconds);
  EXPECT_LE(seconds, 130);
}

}  // namespace

#include "support/cdrstore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

void addtostore(const std::string& root, const std::string& relpath, const std::string& text) {
  std::filesystem::path p = std::filesystem::path(root) / relpath;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::app | std::ios::binary);
  f << text;
  ASSERT_TRUE(f.good()) << p;
}

std::string hourfilepath(int year, int month, int day, int hour) {
  char buf[64];
  snprintf(buf, sizeof buf, "%02d_%04d/%02d_%02d_%04d/%02d_%02d_%04d:%02d", month, year, day, month,
           year, day, month, year, hour);
  return buf;
}

std::string outgoingline(const std::string& call, std::string* relpath) {
  std::istringstream in(call);
  std::string e, station, trunk, dialled;
  int seconds = 0;
  in >> e >> station >> trunk >> dialled >> seconds;
  std::string ticks = seconds < 0 ? "999999" : std::to_string(seconds / 4);
  *relpath = hourfilepath(std::stoi(e.substr(0, 4)), std::stoi(e.substr(5, 2)),
                          std::stoi(e.substr(8, 2)), std::stoi(e.substr(11, 2)));
  return ":" + station + "|" + trunk + "|" + dialled + "|" + e.substr(8, 2) + e.substr(5, 2) +
         e.substr(2, 2) + e.substr(11, 2) + e.substr(14, 2) + e.substr(17, 2) + "|" + ticks +
         "|||02\n";
}

procspec cdrjob(const std::vector<std::string>& args) {
  procspec job;
  job.argv.push_back(PKTAV_CDR);
  job.argv.insert(job.argv.end(), args.begin(), args.end());
  job.unsetenv.push_back("TZ");
  return job;
}

procresult runcdr(const std::vector<std::string>& args) { return runproc(cdrjob(args)); }

void addtwodaysofmarch(const std::string& root) {
  addtostore(root, hourfilepath(2024, 3, 4, 9),
             ":4201|12|5551234|040324090736|45|3||02\n"
             ":7|4202||040324093000|999999|||81\n"
             ":4203|13|0049301234|040324095959||1|4711|03\n");
  addtostore(root, hourfilepath(2024, 3, 5, 14),
             ":4201|12|5559876|050324140010|999998|||02\n"
             ":14|4203||050324141500|15|||81\n");
}

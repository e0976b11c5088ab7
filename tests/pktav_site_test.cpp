// pktav-site, the runner of one site: the options file read and checked,
// the serial line set to raw mode (a pseudo-terminal here), the run, the
// respawn loop after a closed TCP connection (a listener of the test's own
// on 127.0.0.1), the rotation of the raw data log, and the site run through
// pktav-link (-l) with pabxsim as the exchange, dropping the link.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

namespace fs = std::filesystem;

constexpr int ex_usage = 2;
constexpr int ex_config = 78;
const std::string bindir = PKTAV_BINDIR;

// A site "hq" whose options file, store, log and run directories lie in a
// directory of the test's own.
class Site : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"store", "log", "run"}) fs::create_directory(dir_.file(sub));
  }
  void conf(const std::string& text) { writefile(dir_.file("hq.conf"), text); }
  procspec site(const std::string& command, const std::string& name = "hq") {
    return {.argv = {PKTAV_SITE, "-c", dir_.path(), command, name},
            .env = {"TZ=UTC", "PKTAV_BINDIR=" + bindir, "PKTAV_RUNDIR=" + dir_.file("run"),
                    "STATE_DIRECTORY=" + dir_.file("store"), "LOGS_DIRECTORY=" + dir_.file("log")},
            .unsetenv = {"INVOCATION_ID"}};
  }
  // The same through pktav-link.
  procspec linked(const std::string& command) {
    procspec p = site(command);
    p.argv.insert(p.argv.begin() + 3, "-l");
    return p;
  }
  // Every line in the store, the hourly files in order.
  std::string stored() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir_.file("store")))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& f : files) all += readfile(f);
    return all;
  }
  bool waitfor(const std::function<bool()>& done, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  }
  tmpdir dir_;
};

TEST_F(Site, CheckShowsTheLineSettingsAndTheCommandLine) {
  const std::string store = " -o " + dir_.file("store");
  struct {
    std::string conf, want;
  } cases[] = {
      {"PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/ttyS0\"\n",
       "stty -F /dev/ttyS0 9600 raw -echo clocal cs8 -parenb -cstopb\n" + bindir +
           "/pktav-deviroz7e -i /dev/ttyS0" + store + "\n"},
      {"PKTAV_BUILD=\"diziziv7\"\nPKTAV_INPUT=\"/dev/ttyUSB1\"\nPKTAV_SPEED=\"1200\"\n"
       "PKTAV_FRAME=\"7E1\"\nPKTAV_STTY=\"crtscts\"\nPKTAV_RAWLOG=\"yes\"\n"
       "PKTAV_OPTIONS=\"-e 15 -l 000100 -h000199 -xM\"\n",
       "stty -F /dev/ttyUSB1 1200 raw -echo clocal cs7 parenb -parodd -cstopb crtscts\n" + bindir +
           "/pktav-diziziv7 -e 15 -l 000100 -h000199 -xM -i /dev/ttyUSB1" + store + " -R " +
           dir_.file("log") + "/hq.raw\n"},
      {"PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"termsrv:4001\"\nPKTAV_FRAME=\"8O2\"\n",
       bindir + "/pktav-deviroz7e -i termsrv:4001" + store + "\n"},
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"/srv/in.smdr\"\nPKTAV_CDRDIR=\"/srv/cdr\"\n",
       bindir + "/pktav-md11bc12 -i /srv/in.smdr -o /srv/cdr\n"},
      // The loader's line follows when the calls go to a database.
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"/srv/in.smdr\"\nPKTAV_CDRDIR=\"/srv/cdr\"\n"
       "PKTAV_DATABASE=\"host=db dbname=cdr\"\n"
       "PKTAV_LOADOPTIONS=\"--tz Europe/Berlin --batch=500 --tariff /etc/t.csv\"\n",
       bindir + "/pktav-md11bc12 -i /srv/in.smdr -o /srv/cdr\n" + bindir +
           "/pktav-cdr load --follow --site hq --tz Europe/Berlin --batch=500 --tariff /etc/t.csv "
           "host=db dbname=cdr /srv/cdr\n"},
      // And the watch's, its state in the loader's folder, not in the store.
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"/srv/in.smdr\"\nPKTAV_CDRDIR=\"/srv/cdr\"\n"
       "PKTAV_RULES=\"" + dir_.file("rules") + "\"\nPKTAV_ALARMEXEC=\"PKTAV_MAILTO=ops mailer\"\n"
       "PKTAV_WATCHOPTIONS=\"--json --tz UTC\"\n",
       bindir + "/pktav-md11bc12 -i /srv/in.smdr -o /srv/cdr\n" + bindir +
           "/pktav-cdr watch --follow --site hq --rules " + dir_.file("rules") +
           " --state /var/lib/pktav-cdr/hq.watch.state --exec 'PKTAV_MAILTO=ops mailer' --json "
           "--tz UTC /srv/cdr\n"},
  };
  writefile(dir_.file("rules"), "long long over=2h\n");
  for (const auto& c : cases) {
    conf(c.conf);
    procresult r = runproc(site("check"));
    EXPECT_EQ(r.code, 0) << c.conf << describe(r);
    EXPECT_EQ(r.out, c.want) << c.conf;
  }
}

TEST_F(Site, WrongOptionsFilesAreRefusedWithTheSettingNamed) {
  const std::string ok = "PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/ttyS0\"\n";
  struct {
    std::string conf, message;
  } cases[] = {
      {"PKTAV_INPUT=\"/dev/ttyS0\"\n", "PKTAV_BUILD must name a build"},
      {"PKTAV_BUILD=\"nosuch\"\nPKTAV_INPUT=\"/dev/ttyS0\"\n", "there is no program"},
      {"PKTAV_BUILD=\"deviroz7e\"\n", "PKTAV_INPUT must name the source"},
      {"PKTAV_BUILD=\"diziziv7\"\nPKTAV_INPUT=\"termsrv:4001\"\n", "only the deviroz7e build"},
      {"PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\":4001\"\n", "host:port needs a host"},
      {"PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"in.smdr\"\n", "absolute path or host:port"},
      {ok + "PKTAV_SPEED=\"fast\"\n", "PKTAV_SPEED"},
      {ok + "PKTAV_OPTIONS=\"-vK\"\n", "PKTAV_OPTIONS: deviroz7e refuses them: " + bindir +
                                            "/pktav-deviroz7e: invalid option -- 'K'"},
      {ok + "PKTAV_FRAME=\"9N1\"\n", "PKTAV_FRAME"},
      {ok + "PKTAV_FRAME=\"8X1\"\n", "PKTAV_FRAME"},
      {ok + "PKTAV_RAWLOG=\"maybe\"\n", "PKTAV_RAWLOG"},
      {ok + "PKTAV_CDRDIR=\"cdr\"\n", "PKTAV_CDRDIR"},
      {ok + "PKTAV_OPTIONS=\"-v -n\"\n", "-n is not for a service"},
      {ok + "PKTAV_OPTIONS=\"-xo /tmp\"\n", "-o is not for a service"},
      {ok + "PKTAV_OPTIONS=\"-Rraw\"\n", "-R is not for a service"},
      {ok + "PKTAV_OPTIONS=\"-e 15 -i /dev/ttyS1\"\n", "-i is not for a service"},
      {ok + "PKTAV_OPTIONS=\"-v -l\"\n", "-l needs an argument"},
  };
  for (const auto& c : cases) {
    conf(c.conf);
    for (const char* command : {"check", "run", "respawn"}) {
      procresult r = runproc(site(command));
      EXPECT_EQ(r.code, ex_config) << c.conf << command << describe(r);
      EXPECT_EQ(r.err.rfind("pktav-site: hq: ", 0), 0u) << c.conf << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.conf << r.err;
    }
  }
  // A site with no file, or whose name would lead elsewhere.
  procresult r = runproc(site("check", "nosuch"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
  EXPECT_NE(r.err.find("cannot read " + dir_.file("nosuch.conf")), std::string::npos) << r.err;
  r = runproc(site("run", "../hq"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
}

// The loader's and the watch's settings are refused by check and by the
// loader and the watch; the site itself runs on whatever they say.
TEST_F(Site, WrongLoaderAndWatchSettingsAreRefusedButLeaveTheSiteRunning) {
  const std::string ok = "PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/null\"\n";
  const std::string db = ok + "PKTAV_DATABASE=\"/x.sqlite\"\n", rules = dir_.file("rules");
  const std::string watch = ok + "PKTAV_RULES=\"" + rules + "\"\n";
  writefile(rules, "long long over=2h\n");
  struct {
    std::string conf, command, message;
  } cases[] = {
      {ok + "PKTAV_DATABASE=\"cdr.sqlite\"\n", "load", "PKTAV_DATABASE must be the absolute path"},
      {db + "PKTAV_LOADOPTIONS=\"--follow\"\n", "load",
       "PKTAV_LOADOPTIONS: --follow is not for a service"},
      {db + "PKTAV_LOADOPTIONS=\"--site=b\"\n", "load",
       "PKTAV_LOADOPTIONS: --site is not for a service"},
      {db + "PKTAV_LOADOPTIONS=\"--strict-dst --tz\"\n", "load",
       "PKTAV_LOADOPTIONS: --tz needs an argument"},
      {db + "PKTAV_LOADOPTIONS=\"--to 2026\"\n", "load", "PKTAV_LOADOPTIONS: --to is none of"},
      {ok + "PKTAV_RULES=\"rules\"\n", "watch", "PKTAV_RULES must be the absolute path"},
      {ok + "PKTAV_RULES=\"" + dir_.file("nosuch") + "\"\n", "watch",
       "PKTAV_RULES: " + dir_.file("nosuch")},
      {watch + "PKTAV_WATCHOPTIONS=\"--state /s\"\n", "watch",
       "PKTAV_WATCHOPTIONS: --state is not for a service"},
      {watch + "PKTAV_WATCHOPTIONS=\"--exec=true\"\n", "watch",
       "the command for each alarm is PKTAV_ALARMEXEC"},
      {watch + "PKTAV_WATCHOPTIONS=\"--json --metrics\"\n", "watch",
       "PKTAV_WATCHOPTIONS: --metrics needs an argument"},
      {watch + "PKTAV_WATCHOPTIONS=\"--batch 5\"\n", "watch",
       "PKTAV_WATCHOPTIONS: --batch is none of"},
      // The rules as check reads them, with the tariff they name.
      {watch + "PKTAV_WATCHOPTIONS=\"--tariff " + dir_.file("nosuch.csv") + "\"\n", "watch",
       "nosuch.csv"},
  };
  for (const auto& c : cases) {
    conf(c.conf);
    for (const std::string& command : {std::string("check"), c.command}) {
      procresult r = runproc(site(command));
      EXPECT_EQ(r.code, ex_config) << c.conf << command << describe(r);
      EXPECT_EQ(r.err.rfind("pktav-site: hq: ", 0), 0u) << c.conf << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.conf << r.err;
    }
    procresult r = runproc(site("run"));
    EXPECT_EQ(r.code, 0) << c.conf << describe(r);
  }
  writefile(rules, "long long over=2x\n");
  conf(watch);
  procresult r = runproc(site("watch"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
  EXPECT_NE(r.err.find("PKTAV_RULES: " + rules + ":1: over \"2x\": not a duration"),
            std::string::npos)
      << r.err;
}

TEST_F(Site, ABadCommandLineShowsTheUsage) {
  for (const auto& argv :
       std::vector<std::vector<std::string>>{{PKTAV_SITE},
                                             {PKTAV_SITE, "-%", "check", "hq"},
                                             {PKTAV_SITE, "-l", "check"},
                                             {PKTAV_SITE, "start", "hq"},
                                             {PKTAV_SITE, "check", "hq", "more"}}) {
    procresult r = runproc({.argv = argv});
    EXPECT_EQ(r.code, ex_usage) << describe(r);
    EXPECT_NE(r.err.find("Usage: pktav-site [-c confdir] [-l] check|line|run|respawn|rawlog|load|watch site"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(Site, CheckThroughTheLinkShowsThePktavLinkCommand) {
  const std::string link = bindir + "/pktav-link ", store = " -o " + dir_.file("store");
  struct {
    std::string conf, want;
  } cases[] = {
      // The line is set as without -l, and its speed and frame are put back
      // after a re-plug; the end byte follows the build.
      {"PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/ttyS0\"\n",
       "stty -F /dev/ttyS0 9600 raw -echo clocal cs8 -parenb -cstopb\n" + link +
           "--end-byte 03 --speed 9600 --line 8N1 /dev/ttyS0 -- " + bindir + "/pktav-deviroz7e" +
           store + "\n"},
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"/dev/ttyUSB1\"\nPKTAV_SPEED=\"1200\"\n"
       "PKTAV_FRAME=\"7e1\"\nPKTAV_STTY=\"crtscts\"\nPKTAV_RAWLOG=\"yes\"\nPKTAV_OPTIONS=\"-xv\"\n"
       "PKTAV_LINKOPTIONS=\"--retry-min 0.5 --retry-max=10 --dead-after 60\"\n",
       "stty -F /dev/ttyUSB1 1200 raw -echo clocal cs7 parenb -parodd -cstopb crtscts\n" + link +
           "--retry-min 0.5 --retry-max=10 --dead-after 60 --end-byte 0a --speed 1200 --line 7e1 "
           "/dev/ttyUSB1 -- " +
           bindir + "/pktav-md11bc12 -xv" + store + " -R " + dir_.file("log") + "/hq.raw\n"},
      // Any build reads TCP through the link. Its metrics are the site's.
      {"PKTAV_BUILD=\"diziziv7\"\nPKTAV_INPUT=\"termsrv:4001\"\n"
       "PKTAV_LINKOPTIONS=\"--metrics /run/pktav.prom\"\n",
       link + "--metrics /run/pktav.prom --end-byte 03 --site hq termsrv:4001 -- " + bindir +
           "/pktav-diziziv7" + store + "\n"},
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"listen:[::]:2001\"\n"
       "PKTAV_LINKOPTIONS=\"--allow 127.1.2.3 --allow=fd12:3456::/32\"\n",
       link + "--allow 127.1.2.3 --allow=fd12:3456::/32 --end-byte 0a listen:[::]:2001 -- " + bindir +
           "/pktav-md11bc12" + store + "\n"},
      // A path outside /dev (a named pipe) gets no line settings.
      {"PKTAV_BUILD=\"diziziv7\"\nPKTAV_INPUT=\"/run/pbx.fifo\"\n",
       link + "--end-byte 03 /run/pbx.fifo -- " + bindir + "/pktav-diziziv7" + store + "\n"},
  };
  for (const auto& c : cases) {
    conf(c.conf);
    procresult r = runproc(linked("check"));
    EXPECT_EQ(r.code, 0) << c.conf << describe(r);
    EXPECT_EQ(r.out, c.want) << c.conf;
  }
  // Without -l the link's settings are not read.
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"termsrv:4001\"\nPKTAV_LINKOPTIONS=\"--bogus\"\n");
  procresult r = runproc(site("check"));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, bindir + "/pktav-deviroz7e -i termsrv:4001" + store + "\n");
}

TEST_F(Site, WrongLinkSettingsAreRefusedWithTheSettingNamed) {
  const std::string tcp = "PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"termsrv:4001\"\n";
  const std::string listen = "PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"listen:0.0.0.0:2001\"\n";
  writefile(dir_.file("in.smdr"), neaxcalls(0, 1));
  struct {
    std::string conf, message;
  } cases[] = {
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"listen:2001\"\n", "PKTAV_INPUT: listen: needs"},
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"termsrv:\"\n", "host:port needs a port"},
      // pktav-link's own refusals, passed on with the value it names.
      {"PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"/dev/ttyS0\"\nPKTAV_SPEED=\"110\"\n",
       "pktav-link refuses the settings: bad value: 110"},
      {tcp + "PKTAV_LINKOPTIONS=\"--allow 127.0.0.1\"\n",
       "pktav-link refuses the settings: --allow is for a listen: source"},
      {listen + "PKTAV_LINKOPTIONS=\"--allow pbx.example\"\n", "pbx.example"},
      {tcp + "PKTAV_LINKOPTIONS=\"--retry-min -3\"\n", "-3"},
      {tcp + "PKTAV_LINKOPTIONS=\"--retry-max=86400.5\"\n", "86400.5"},
      {listen + "PKTAV_LINKOPTIONS=\"--give-way-after=0\"\n", "bad value: 0"},
      // The settings this script writes itself, and an option whose
      // argument would be taken from them.
      {listen + "PKTAV_LINKOPTIONS=\"--allow\"\n", "--allow needs an argument"},
      {tcp + "PKTAV_LINKOPTIONS=\"--speed 9600\"\n", "--speed is not for a service"},
      {tcp + "PKTAV_LINKOPTIONS=\"--line=8N1\"\n", "--line is not for a service"},
      {tcp + "PKTAV_LINKOPTIONS=\"--end-byte 0a\"\n", "--end-byte is not for a service"},
      {tcp + "PKTAV_LINKOPTIONS=\"--retry 5\"\n", "--retry is none of --allow"},
      {tcp + "PKTAV_LINKOPTIONS=\"termsrv:4002\"\n", "termsrv:4002 is none of --allow"},
      {tcp + "PKTAV_LINKOPTIONS=\"--metrics=hq.prom\"\n", "--metrics needs the absolute path"},
      {tcp + "PKTAV_LINKOPTIONS=\"--site north\"\n", "--site is not for a service"},
      {tcp + "PKTAV_OPTIONS=\"-i /dev/ttyS1\"\n", "-i is not for a service"},
  };
  for (const auto& c : cases) {
    conf(c.conf);
    for (const char* command : {"check", "run", "respawn"}) {
      procresult r = runproc(linked(command));
      EXPECT_EQ(r.code, ex_config) << c.conf << command << describe(r);
      EXPECT_EQ(r.err.rfind("pktav-site: hq: ", 0), 0u) << c.conf << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.conf << r.err;
    }
  }
  conf(tcp + "PKTAV_LINKOPTIONS=\"--retry-min 0.5 --retry-max 86400 --dead-after 1\"\n");
  procresult r = runproc(linked("check"));
  EXPECT_EQ(r.code, 0) << describe(r);
  // A listen: source needs the link.
  conf(listen);
  r = runproc(site("check"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
  EXPECT_NE(r.err.find("PKTAV_INPUT: a listen: source is read through pktav-link"),
            std::string::npos)
      << r.err;
}

// Settings that a check used to pass and the service then failed on at
// every start (pktav-link's or the packer's usage error, stty's refusal),
// and the same mended: the check, and the run the unit makes, end with 78
// (the unit's RestartPreventExitStatus=) and name the fault.
TEST_F(Site, CheckRefusesWhatTheServiceWouldFailOn) {
  const std::string deviroz7e = "PKTAV_BUILD=\"deviroz7e\"\n";
  const std::string listen = deviroz7e + "PKTAV_INPUT=\"listen:0.0.0.0:2001\"\n";
  const std::string serial = deviroz7e + "PKTAV_INPUT=\"/dev/ttyS0\"\n";
  writefile(dir_.file("in.smdr"), neaxcalls(0, 1));
  struct {
    bool linked;
    std::string conf, message;  // no message: the settings pass
  } cases[] = {
      {true, listen + "PKTAV_LINKOPTIONS=\"--allow 127.1.2\"\n", "127.1.2"},
      {true, listen + "PKTAV_LINKOPTIONS=\"--allow 127.1.2.0/24\"\n", ""},
      {true, deviroz7e + "PKTAV_INPUT=\"listen:0.0.0.0:99999\"\n", "listen:0.0.0.0:99999"},
      {true, deviroz7e + "PKTAV_INPUT=\"listen:[::]:65536\"\n", "listen:[::]:65536"},
      {true, deviroz7e + "PKTAV_INPUT=\"listen:0.0.0.0:65535\"\n", ""},
      {true, deviroz7e + "PKTAV_INPUT=\"termsrv:99999\"\n", "termsrv:99999"},
      {false, serial + "PKTAV_SPEED=\"12345\"\n", "PKTAV_SPEED must be a speed"},
      {false, serial + "PKTAV_SPEED=\"0\"\n", "PKTAV_SPEED must be a speed"},
      {false, serial + "PKTAV_SPEED=\"921600\"\n", ""},
      {true, serial + "PKTAV_SPEED=\"921600\"\n", "bad value: 921600"},
      {false, serial + "PKTAV_OPTIONS=\"-Z\"\n", "invalid option -- 'Z'"},
      {true, listen + "PKTAV_OPTIONS=\"-Z\"\n", "invalid option -- 'Z'"},
      {false, serial + "PKTAV_OPTIONS=\"-x -MQ\"\n", "invalid option -- 'Q'"},
      // Every option a service may give, as the packer reads them.
      {false, serial + "PKTAV_OPTIONS=\"-xXt -c -m -vMsp -H /dev/cua1 -e15 -l 000100 -h000199\"\n",
       ""},
      {true, listen + "PKTAV_OPTIONS=\"-v -M -e 15\"\n", ""},
      {true, listen + "PKTAV_LINKOPTIONS=\"--allow 127.0.0.2 --give-way-after 30\"\n", ""},
      // pktav-link reads a file once and ends, as pktav does.
      {true, deviroz7e + "PKTAV_INPUT=\"" + dir_.file("in.smdr") + "\"\n", ""},
  };
  for (const auto& c : cases) {
    conf(c.conf);
    auto command = [&](const char* name) { return c.linked ? linked(name) : site(name); };
    if (c.message.empty()) {
      // Good settings are only checked: their run would wait for the exchange.
      procresult r = runproc(command("check"));
      EXPECT_EQ(r.code, 0) << c.conf << describe(r);
      continue;
    }
    for (const char* name : {"check", "run"}) {
      procresult r = runproc(command(name));
      EXPECT_EQ(r.code, ex_config) << c.conf << name << describe(r);
      EXPECT_EQ(r.err.rfind("pktav-site: hq: ", 0), 0u) << c.conf << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.conf << r.err;
    }
  }
}

// A pseudo-terminal stands in for the serial line; it starts in the
// terminal's default (cooked) mode, as a serial port does.
class SerialSite : public Site {
 protected:
  void SetUp() override {
    Site::SetUp();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    // Held open, so that the settings stay between the runs.
    slavefd_ = open(slave_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slavefd_, 0);
  }
  void TearDown() override {
    close(slavefd_);
    close(master_);
  }
  void send(const std::string& data) {
    ASSERT_EQ(write(master_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  }
  int master_ = -1, slavefd_ = -1;
  std::string slave_;
};

// The check takes the speeds stty can set the line to, and no other.
TEST_F(SerialSite, CheckTakesTheSpeedsTheLineCanBeSetTo) {
  const struct {
    std::string speed;
    bool valid;
  } cases[] = {{"50", true},     {"134", true},       {"1800", true},      {"9600", true},
               {"460800", true}, {"500000", true},    {"4000000", true},   {"0", false},
               {"7200", false},  {"12345", false},    {"4000001", false},  {"9600.0", false},
               {"09600", false}, {"B9600", false}};
  for (const auto& c : cases) {
    conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + slave_ + "\"\nPKTAV_SPEED=\"" + c.speed + "\"\n");
    procresult r = runproc(site("check"));
    if (c.valid) {
      EXPECT_EQ(r.code, 0) << c.speed << describe(r);
      r = runproc(site("line"));
      EXPECT_EQ(r.code, 0) << c.speed << describe(r);
      r = runproc({.argv = {"/bin/stty", "-F", slave_, "speed"}});
      EXPECT_EQ(r.out, c.speed + "\n") << describe(r);
    } else {
      EXPECT_EQ(r.code, ex_config) << c.speed << describe(r);
      EXPECT_NE(r.err.find("PKTAV_SPEED"), std::string::npos) << r.err;
      r = runproc({.argv = {"/bin/stty", "-F", slave_, c.speed}});
      EXPECT_NE(r.code, 0) << c.speed << " is a speed stty sets";
    }
  }
}

TEST_F(SerialSite, LineSetsRawModeSpeedAndFrame) {
  termios t;
  ASSERT_EQ(tcgetattr(slavefd_, &t), 0);
  ASSERT_TRUE(t.c_lflag & ICANON);  // the trap the line settings avoid
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + slave_ +
       "\"\nPKTAV_SPEED=\"1200\"\nPKTAV_FRAME=\"8N2\"\n");
  procresult r = runproc(site("line"));
  ASSERT_EQ(r.code, 0) << describe(r);
  ASSERT_EQ(tcgetattr(slavefd_, &t), 0);
  EXPECT_FALSE(t.c_lflag & (ICANON | ISIG | ECHO));
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | ISTRIP));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  // A pseudo-terminal knows no parity and only 8 data bits; the words for
  // the other frames are checked with check.
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), static_cast<tcflag_t>(CSTOPB));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B1200));
}

TEST_F(SerialSite, LineLeavesOtherSourcesAndWrongFilesToRun) {
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"termsrv:4001\"\n");
  EXPECT_EQ(runproc(site("line")).code, 0);
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + slave_ + "\"\nPKTAV_FRAME=\"9N1\"\n");
  EXPECT_EQ(runproc(site("line")).code, 0);
  termios t;
  ASSERT_EQ(tcgetattr(slavefd_, &t), 0);
  EXPECT_TRUE(t.c_lflag & ICANON);
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/no-such-tty\"\n");
  procresult r = runproc(site("line"));
  EXPECT_EQ(r.code, 1) << describe(r);
}

// The records reach the store through the line that line set: in the
// cooked mode the line starts in, the ETX that ends each record would be
// swallowed and nothing would arrive.
TEST_F(SerialSite, RecordsArriveAfterLine) {
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + slave_ + "\"\nPKTAV_OPTIONS=\"-v\"\n");
  ASSERT_EQ(runproc(site("line")).code, 0);
  childproc raw(site("run"));
  ASSERT_TRUE(raw.waitfor_err("Rec: 0 "));
  send(neaxcalls(0, 25));
  EXPECT_TRUE(waitfor([&] { return stored() == neaxlines(0, 2); })) << stored();
  raw.signal(SIGTERM);
  procresult r = raw.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(stored(), neaxlines(0, 25));
}

TEST_F(Site, RunNeedsAStoreItCanWrite) {
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/null\"\nPKTAV_CDRDIR=\"" +
       dir_.file("nosuch") + "\"\n");
  procresult r = runproc(site("run"));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("the store " + dir_.file("nosuch") + " is not a directory"),
            std::string::npos)
      << r.err;
}

// load follows the store into the site's database until SIGTERM: the
// database's audit against the store finds every call once, the late ones
// too. Without a database there is nothing to load into. The loader's unit
// names its own state folder, which is not the site's store.
TEST_F(Site, LoadFollowsTheStoreIntoTheDatabase) {
  const std::string input = dir_.file("in.smdr"), db = dir_.file("hq.sqlite");
  const std::string base = "PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + input +
                           "\"\nPKTAV_OPTIONS=\"-v\"\nPKTAV_CDRDIR=\"" + dir_.file("store") +
                           "\"\n";
  conf(base);
  procresult r = runproc(site("load"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
  EXPECT_NE(r.err.find("PKTAV_DATABASE names no database"), std::string::npos) << r.err;

  conf(base + "PKTAV_DATABASE=\"" + db + "\"\nPKTAV_LOADOPTIONS=\"--batch 7\"\n");
  auto audited = [&] {
    procresult a = runproc({.argv = {bindir + "/pktav-cdr", "audit", "--db", db, "--site", "hq",
                                     dir_.file("store")},
                            .env = {"TZ=UTC"}});
    return a.code == 0 && a.out.empty();
  };
  writefile(input, neaxcalls(0, 25));
  ASSERT_EQ(runproc(site("run")).code, 0);
  procspec load = site("load");
  std::replace(load.env.begin(), load.env.end(), "STATE_DIRECTORY=" + dir_.file("store"),
               "STATE_DIRECTORY=" + dir_.file("run"));
  childproc loader(load);
  EXPECT_TRUE(waitfor(audited, 20000));
  writefile(input, neaxcalls(25, 30));
  ASSERT_EQ(runproc(site("run")).code, 0);
  EXPECT_EQ(stored(), neaxlines(0, 55));
  EXPECT_TRUE(waitfor(audited, 20000));
  loader.signal(SIGTERM);
  r = loader.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
}

// watch checks each call the site stores against its rules until SIGTERM,
// each alarm on standard output and handed to PKTAV_ALARMEXEC; started
// again, it goes on from its state in its own folder (not in the store):
// the calls stored while it was down are checked, the earlier ones not
// again. (Without its state, a first start only takes what is stored as
// the rules' past.)
TEST_F(Site, WatchHandsEachAlarmOverOnceAcrossARestart) {
  const std::string input = dir_.file("in.smdr"), rules = dir_.file("rules");
  const std::string handed = dir_.file("handed");
  writefile(rules, "far destination prefix=555 stations=4203-4227\n");
  writefile(dir_.file("hook"), "echo \"$PKTAV_ALARM_STATION\" >>" + handed + "\n");
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"" + input + "\"\nPKTAV_OPTIONS=\"-v\"\nPKTAV_CDRDIR=\"" +
       dir_.file("store") + "\"\nPKTAV_RULES=\"" + rules + "\"\nPKTAV_ALARMEXEC=\"sh " +
       dir_.file("hook") + "\"\nPKTAV_WATCHOPTIONS=\"--tz UTC\"\n");
  procspec watch = site("watch");
  std::replace(watch.env.begin(), watch.env.end(), "STATE_DIRECTORY=" + dir_.file("store"),
               "STATE_DIRECTORY=" + dir_.file("run"));
  auto store = [&](int first, int count) {
    writefile(input, neaxcalls(first, count));
    EXPECT_EQ(runproc(site("run")).code, 0);
  };
  auto round = [&](int first, int count, const std::string& want) {
    childproc watcher(watch);
    EXPECT_TRUE(watcher.waitfor_err("watching")) << watcher.err();
    store(first, count);
    EXPECT_TRUE(waitfor([&] { return readfile(handed) == want; })) << readfile(handed);
    watcher.signal(SIGTERM);
    procresult r = watcher.wait();
    EXPECT_EQ(r.code, 0) << describe(r);
    return r.out;
  };
  std::string out = round(0, 5, "4203\n4204\n4205\n");
  EXPECT_NE(out.find("far"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(dir_.file("run/hq.watch.state")));
  store(20, 4);  // while the watch is down
  round(25, 3, "4203\n4204\n4205\n4221\n4222\n4223\n4224\n4226\n4227\n");
  EXPECT_EQ(stored(), neaxlines(0, 5) + neaxlines(20, 4) + neaxlines(25, 3));
}

// A listener on 127.0.0.1 that serves one connection at a time.
class listener {
 public:
  listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&sin), len) == 0 && listen(fd_, 1) == 0 &&
          getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) == 0;
    port_ = ntohs(sin.sin_port);
  }
  ~listener() {
    if (conn_ >= 0) close(conn_);
    close(fd_);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  // Waits for the next connection (closing the one before).
  bool accept() {
    if (conn_ >= 0) close(conn_);
    conn_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
  }
  bool send(const std::string& data) {
    return write(conn_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  }
  void hangup() {
    close(conn_);
    conn_ = -1;
  }

 private:
  int fd_ = -1, conn_ = -1, port_ = 0;
  bool ok_ = false;
};

// The exchange closes the connection: pktav writes what it holds and ends
// with 0, and respawn starts it again. The raw log is moved aside and
// reopened on the way; SIGTERM ends the run and the loop.
TEST_F(Site, RespawnStartsAgainAfterTheLinkClosesAndRawlogReopensTheLog) {
  listener exchange;
  ASSERT_TRUE(exchange.ok());
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"127.0.0.1:" + std::to_string(exchange.port()) +
       "\"\nPKTAV_RAWLOG=\"yes\"\nPKTAV_OPTIONS=\"-v\"\n");
  const std::string log = dir_.file("log/hq.raw"), pidfile = dir_.file("run/hq.pid");
  auto logsize = [&](size_t want) { return [&, want] { return readfile(log).size() == want; }; };

  childproc loop(site("respawn"));
  ASSERT_TRUE(exchange.accept());
  ASSERT_TRUE(exchange.send(neaxcalls(0, 30)));
  ASSERT_TRUE(waitfor(logsize(neaxcalls(0, 30).size())));
  exchange.hangup();
  ASSERT_TRUE(exchange.accept());  // after the pause of respawn
  EXPECT_EQ(occurrences(loop.err(), "pktav-site: hq: ended with status 0; starting again"), 1)
      << loop.err();
  EXPECT_EQ(stored(), neaxlines(0, 30));

  // The process id file names the running pktav.
  std::string pid = readfile(pidfile);
  ASSERT_FALSE(pid.empty());
  EXPECT_EQ(readfile("/proc/" + pid.substr(0, pid.size() - 1) + "/comm"), "pktav-deviroz7e\n");

  ASSERT_TRUE(exchange.send(neaxcalls(30, 30)));
  ASSERT_TRUE(waitfor(logsize(neaxcalls(0, 60).size())));
  fs::rename(log, log + ".1");
  procresult r = runproc(site("rawlog"));
  EXPECT_EQ(r.code, 0) << describe(r);
  ASSERT_TRUE(loop.waitfor_err("now dolograw=1"));
  ASSERT_TRUE(exchange.send(neaxcalls(60, 10)));
  ASSERT_TRUE(waitfor(logsize(neaxcalls(60, 10).size())));
  EXPECT_EQ(readfile(log + ".1"), neaxcalls(0, 60));
  EXPECT_EQ(readfile(log), neaxcalls(60, 10));

  loop.signal(SIGTERM);
  r = loop.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(stored(), neaxlines(0, 70));
  EXPECT_FALSE(fs::exists(pidfile));
  // With the site gone, rawlog has nothing to do.
  r = runproc(site("rawlog"));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.err.find("not running"), std::string::npos) << r.err;
}

TEST_F(Site, RawlogNeedsASiteWithARawLog) {
  conf("PKTAV_BUILD=\"deviroz7e\"\nPKTAV_INPUT=\"/dev/ttyS0\"\n");
  procresult r = runproc(site("rawlog"));
  EXPECT_EQ(r.code, ex_config) << describe(r);
  EXPECT_NE(r.err.find("keeps no raw log"), std::string::npos) << r.err;
}

// The site through pktav-link, the exchange played by pabxsim: 600
// records, the link dropped after records 200 and 400, the first time in
// the middle of a record. One pktav reads on across the drops: it ends once,
// at the SIGTERM, and the store holds every call sent whole exactly once,
// paired as in an unbroken run, as pabxsim's list says.
class LinkedSite : public Site {
 protected:
  static constexpr size_t drops = 2;
  std::vector<std::string> simargs(const std::string& format) {
    return {"-f",           format, "-n",          "600",
            "-s",           "9",    "--start",     "2024-02-05T10:00",
            "--drop-every", "200",  "--cut-every", "2",
            "--calls",      calls_};
  }
  // Once pabxsim has sent everything: waits for all but the `held` calls
  // that pktav keeps for pairing until its end, calls `before_stop`, stops
  // the site with SIGTERM and checks the store against the list.
  void finish(
      childproc& sim, childproc& run, size_t held,
      const std::function<void()>& before_stop = [] {}) {
    procresult s = sim.wait(60000);
    ASSERT_EQ(s.code, 0) << describe(s);
    calllist list = readcalls(calls_);
    ASSERT_EQ(list.cut, 1u);
    ASSERT_TRUE(waitforlines(dir_.file("store"), linecount(list.stored) - held)) << run.err();
    before_stop();
    run.signal(SIGTERM);
    procresult r = run.wait();
    EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
    EXPECT_EQ(readstore(dir_.file("store")), storeof(list.stored));
    EXPECT_EQ(occurrences(r.err, "pktav-link: link up: "), static_cast<int>(drops + 1)) << r.err;
    EXPECT_EQ(occurrences(r.err, "my_exit: errcode = 0"), 1) << r.err;
  }
  std::string calls_ = dir_.file("calls");
};

// An exchange (or terminal server) that serves its records, read by a build
// that cannot read TCP itself; the site runs under respawn.
TEST_F(LinkedSite, ReadsAServingExchangeAcrossDrops) {
  std::vector<std::string> args = simargs("neax98");
  args.insert(args.end(), {"--listen", "127.0.0.1:0"});
  childproc sim(simjob(args));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  conf("PKTAV_BUILD=\"diziziv7\"\nPKTAV_INPUT=\"127.0.0.1:" + std::to_string(port) +
       "\"\nPKTAV_OPTIONS=\"-v -M\"\nPKTAV_LINKOPTIONS=\"--retry-min 0.05 --retry-max 0.2\"\n");
  childproc loop(linked("respawn"));
  finish(sim, loop, 23, [&] {
    // respawn ran pktav-link (with -l), which is what the process id file names.
    std::string pid = readfile(dir_.file("run/hq.pid"));
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(readfile("/proc/" + pid.substr(0, pid.size() - 1) + "/comm"), "pktav-link\n");
  });
  EXPECT_EQ(occurrences(loop.err(), "starting again"), 0) << loop.err();
}

// An exchange that connects to push its records, from an allowed address.
// rawlog, as logrotate runs it (without -l), reaches pktav through
// pktav-link.
TEST_F(LinkedSite, AcceptsAPushingExchangeAcrossDropsAndReopensTheRawLog) {
  conf(
      "PKTAV_BUILD=\"md11bc12\"\nPKTAV_INPUT=\"listen:127.0.0.1:0\"\nPKTAV_RAWLOG=\"yes\"\n"
      "PKTAV_OPTIONS=\"-v -M\"\nPKTAV_LINKOPTIONS=\"--allow 127.0.0.1\"\n");
  childproc run(linked("run"));
  int port = listeningport(run, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << run.err();
  std::vector<std::string> args = simargs("md110");
  args.insert(args.end(), {"--connect", "127.0.0.1:" + std::to_string(port)});
  childproc sim(simjob(args));
  const std::string log = dir_.file("log/hq.raw");
  finish(sim, run, 0, [&] {
    fs::rename(log, log + ".1");
    procresult r = runproc(site("rawlog"));
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_TRUE(run.waitfor_err("now dolograw=1")) << run.err();
  });
  EXPECT_GT(readfile(log + ".1").size(), 600u * 100);
}

}  // namespace

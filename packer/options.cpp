#include "options.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "diag.h"
#include "pabx/pabx.h"
#include "settings.h"

startup start;

namespace {

// Copies at most 127 characters of a non-empty argument; false for an
// empty one, which leaves the earlier value.
bool copyarg(char* dst, const char* arg) {
  if (!*arg) return false;
  snprintf(dst, 128, "%s", arg);
  return true;
}

// host:port splits at the first colon; a path without one stays a path.
void splitinput() {
  start.hostname = start.hostport = nullptr;
  if (char* colon = strchr(start.inputpath, ':')) {
    *colon = '\0';
    start.hostname = start.inputpath;
    start.hostport = colon + 1;
  }
}

void setstation(uint8_t* stn, const char* arg) {
  unsigned long v = hexarg(arg, 6);
  stn[0] = static_cast<uint8_t>(v >> 16);
  stn[1] = static_cast<uint8_t>(v >> 8);
  stn[2] = static_cast<uint8_t>(v);
}

int hexdigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* const usagetext[] = {
    "Usage: pktav [-i smdrfile] [-H /dev/cua1] [-o cdrdir] [-n] [-x] [-X] [-t] [-r] [-R rawfile]] "
    "[-c | -m] [-v] [-M] [-s] -p] [-e XXcode] [-l lowstn] [-h highstn]",
    "   eg. pktav -i n24.000 -n -c -v -x -e 15 -l 000100 -h 000199",
    "            -i will take calls from file n24.000",
    nullptr,  // the source rows of a TCP-capable build go here
    "            -H will handshake on this port",
    "            -n will pause between calls",
    "            -x will turn debugging on.",
    "            -X will turn Xtra debugging on.",
    "            -t will turn time struct debug on.",
    "            -r will turn raw data logging.",
    "            -R will set raw file.",
    "            -c set a CAP packer (ie. 12 digit charge codes) - DEFAULT",
    "            -m set a MPC packer (ie. 6 digit charge codes)",
    "            -v will turn date/time validation off.",
    "            -M set MASK parity flag for packer compat.",
    "            -s use PC system time.",
    "            -p use PABX time - DEFAULT",
    "            -e set call exclusion code to 15.",
    "              ( 15 - include only calls in station range with charge codes)",
    "            -l set station range low  to 000100",
    "            -h set station range high to 000199",
    "              (note: leading zeros are required).",
};

const char* const tcpusagetext[] = {
    "               or /dev/ttyS1 for serial port.",
    "               or hostname:port for TCP connection.",
};

}  // namespace

unsigned long hexarg(const char* text, int maxdigits) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  unsigned long value = 0;
  for (int i = 0; i < maxdigits && hexdigit(text[i]) >= 0; ++i)
    value = value << 4 | static_cast<unsigned long>(hexdigit(text[i]));
  return value;
}

void resetstartup() {
  start = startup{};
  cdrdir = start.outputdir;
}

void printpkid() { errf("PC-TAV PABX Packer [%s]", pabx.pakver); }

void usage() {
  std::string text;
  for (const char* line : usagetext) {
    if (line) {
      text += line;
      text += '\n';
    } else if (pabx.tcpinput) {
      for (const char* row : tcpusagetext) text += std::string(row) + '\n';
    }
  }
  errf("%s", text.c_str());
}

bool parseoptions(int argc, char** argv) {
  optind = 0;  // getopt starts afresh, should the options be read again
  int opt;
  while ((opt = getopt(argc, argv, "i:H:o:nxXtrR:cmvMspe:l:h:")) != -1) {
    switch (opt) {
      case 'i':
        if (copyarg(start.inputpath, optarg) && pabx.tcpinput) splitinput();
        break;
      case 'H':
        if (*optarg) handshakeport = optarg;
        break;
      case 'o': copyarg(start.outputdir, optarg); break;
      case 'n': nopause = 0; break;
      case 'x': dodebug = 1; break;
      case 'X': dodebug = doXdebug = 1; break;
      case 't': dodumpt = 1; break;
      case 'r': dolograw = 1; break;
      case 'R':
        dolograw = 1;
        if (*optarg) rawfile = optarg;
        break;
      case 'c': cap = 1; break;
      case 'm': cap = 0; break;
      case 'v': dtvalidate = 0; break;
      case 'M': sector0[maskparity] = 4; break;
      case 's': systime = 1; break;
      case 'p': systime = 0; break;
      case 'e': crjcode = static_cast<uint8_t>(hexarg(optarg, 2)); break;
      case 'l': setstation(stnlow, optarg); break;
      case 'h': setstation(stnhigh, optarg); break;
      default: return false;
    }
  }
  return true;
}

void dumpsettings() {
  std::string d;
  if (start.hostname) {
    d += "TCP Stream connection\n";
    appendf(d, "hostname = [%s]\n", start.hostname);
    appendf(d, "hostport = [%s]\n", start.hostport);
  } else {
    appendf(d, "inputfile = [%s]\n", *start.inputpath ? start.inputpath : "stdin");
  }
  appendf(d, "handshakeport = [%s]\n", handshakeport ? handshakeport : "");
  appendf(d, "outputdir=[%s]\n", *cdrdir ? cdrdir : "stdout");
  appendf(d, "nopause = %d\n", nopause);
  appendf(d, "dodebug = %d\n", dodebug);
  appendf(d, "doXdebug = %d\n", doXdebug);
  appendf(d, "dodumpt = %d\n", dodumpt);
  appendf(d, "dolograw = %d\n", dolograw);
  appendf(d, "rawfile = [%s]\n", rawfile);
  appendf(d, "cap = %d (%s)\n", cap, cap ? "cap" : "mpc");
  appendf(d, "dtvalidate = %d\n", dtvalidate);
  appendf(d, "systime = %d\n", systime);
  appendf(d, "MASK parity flag = %02x\n", sector0[maskparity]);
  appendf(d, "crjcode = %02x\n", crjcode);
  appendf(d, "stnlow  = %02x%02x%02x\n", stnlow[0], stnlow[1], stnlow[2]);
  appendf(d, "stnhigh = %02x%02x%02x\n", stnhigh[0], stnhigh[1], stnhigh[2]);
  d += "\n";
  errf("%s", d.c_str());
}

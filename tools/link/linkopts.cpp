#include "tools/link/linkopts.h"

#include <getopt.h>

#include <algorithm>

#include "tools/common/numbers.h"
#include "tools/common/optionname.h"

const char* const linkusage =
    "Usage: pktav-link [options] SOURCE -- PROGRAM [ARGUMENTS...]\n"
    "Keeps the exchange's byte stream flowing into one long-running PROGRAM,\n"
    "which reads it on standard input, across dropped links.\n"
    "\n"
    "SOURCE is HOST:PORT (connect, again after a drop), listen:ADDRESS:PORT\n"
    "(accept the exchange's connection) or the path of a serial device.\n"
    "\n"
    "      --allow ADDRESS[/BITS]  listen: accept only these peers (repeatable)\n"
    "      --retry-min SECONDS     first wait before a new attempt (default 1)\n"
    "      --retry-max SECONDS     longest wait between attempts (default 30)\n"
    "      --dead-after SECONDS    give up a TCP peer that answers nothing after\n"
    "                              this long (default 120)\n"
    "      --speed BAUD            device: line speed, raw 8-bit line\n"
    "      --line FRAMING          device: data bits, parity, stop bits (default 8N1)\n"
    "      --end-byte HEX          the byte ending each record (03 for NEAX, 0a for\n"
    "                              MD110): a record cut short by a drop is dropped\n"
    "      --give-way-after SECONDS\n"
    "                              listen: a peer silent this long gives way to a\n"
    "                              new one (default 30)\n"
    "      --metrics FILE          write the link's metrics to FILE, in the Prometheus\n"
    "                              text format, every 15 seconds and at the end\n"
    "      --site NAME             the label site of the metrics\n"
    "      --check                 read the settings as a run would and end: 0 when\n"
    "                              a run would start, 2 with what is wrong\n"
    "  -h, --help, -V, --version\n";

namespace {

enum longonly {
  o_allow = 256,
  o_rmin,
  o_rmax,
  o_dead,
  o_speed,
  o_line,
  o_end,
  o_giveway,
  o_metrics,
  o_site,
  o_check,
};

const option longopts[] = {
    {"allow", required_argument, nullptr, o_allow},
    {"retry-min", required_argument, nullptr, o_rmin},
    {"retry-max", required_argument, nullptr, o_rmax},
    {"dead-after", required_argument, nullptr, o_dead},
    {"speed", required_argument, nullptr, o_speed},
    {"line", required_argument, nullptr, o_line},
    {"end-byte", required_argument, nullptr, o_end},
    {"give-way-after", required_argument, nullptr, o_giveway},
    {"metrics", required_argument, nullptr, o_metrics},
    {"site", required_argument, nullptr, o_site},
    {"check", no_argument, nullptr, o_check},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Seconds to wait: from a millisecond, the finest wait there is, to a day.
bool seconds(const std::string& text, double* out) {
  return parsedecimal(text, out) && *out >= 0.001 && *out <= 86400;
}

// Whole seconds, 1 to a day.
bool wholeseconds(const std::string& text, int* out) {
  uint64_t n = 0;
  if (!parsecount(text, &n, 5) || n < 1 || n > 86400) return false;
  *out = static_cast<int>(n);
  return true;
}

// A file to write: a name after the last '/'.
bool filepath(const std::string& text) {
  std::string name = text.substr(text.rfind('/') + 1);
  return !name.empty() && name != "." && name != "..";
}

// A label's value: any text without control characters.
bool labelvalue(const std::string& text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

bool hexbyte(const std::string& text, int* out) {
  uint64_t n = 0;
  if (!parsehex(text, &n, 2)) return false;
  *out = static_cast<int>(n);
  return true;
}

// The settings read after the options: the source, and what goes with it.
bool takesource(const char* text, const std::vector<int>& given, linkoptions* o, std::string* why) {
  if (!parsesource(text, &o->source, why)) return false;
  auto has = [&](int opt) { return std::find(given.begin(), given.end(), opt) != given.end(); };
  if (!o->allow.empty() && o->source.kind != linksource::listen) {
    *why = "--allow is for a listen: source";
    return false;
  }
  if (has(o_giveway) && o->source.kind != linksource::listen) {
    *why = "--give-way-after is for a listen: source";
    return false;
  }
  if (o->line.given && o->source.kind != linksource::device) {
    *why = "--speed and --line are for a device";
    return false;
  }
  if (o->retrymax < o->retrymin) {
    // Only one was given: the other makes way.
    if (has(o_rmin) && has(o_rmax)) {
      *why = "--retry-max is shorter than --retry-min";
      return false;
    }
    if (has(o_rmin))
      o->retrymax = o->retrymin;
    else
      o->retrymin = o->retrymax;
  }
  return true;
}

}  // namespace

bool parsesource(const std::string& text, linksource* out, std::string* why) {
  *out = linksource{};
  out->text = text;
  std::string rest = text;
  if (text.rfind("listen:", 0) == 0) {
    out->kind = linksource::listen;
    rest = text.substr(7);
  } else if (!text.empty() && (text[0] == '/' || text[0] == '.')) {
    out->kind = linksource::device;
    out->path = text;
    return true;
  }
  switch (parseaddress(rest, out->kind == linksource::listen, true, &out->net)) {
    case addressfault::none: return true;
    case addressfault::form:
      *why = "SOURCE is HOST:PORT, listen:ADDRESS:PORT or a device path: " + text;
      return false;
    case addressfault::port: break;
  }
  *why = "no such port: " + text;
  return false;
}

bool parsespeed(const std::string& text, speed_t* out) {
  static const struct {
    const char* name;
    speed_t speed;
  } speeds[] = {{"300", B300},     {"600", B600},       {"1200", B1200},     {"2400", B2400},
                {"4800", B4800},   {"9600", B9600},     {"19200", B19200},   {"38400", B38400},
                {"57600", B57600}, {"115200", B115200}, {"230400", B230400}, {"460800", B460800}};
  for (const auto& s : speeds)
    if (text == s.name) {
      *out = s.speed;
      return true;
    }
  return false;
}

bool parseframing(const std::string& text, lineconfig* out) {
  if (text.size() != 3 || text[0] < '5' || text[0] > '8' || (text[2] != '1' && text[2] != '2'))
    return false;
  char parity = static_cast<char>(text[1] & ~0x20);
  if (parity != 'N' && parity != 'E' && parity != 'O') return false;
  out->bits = text[0] - '0';
  out->parity = parity;
  out->stopbits = text[2] - '0';
  return true;
}

bool wantscheck(int argc, char** argv) {
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i)
    if (std::string(argv[i]) == "--check") return true;
  return false;
}

linkparse parselinkoptions(int argc, char** argv, linkoptions* o, std::string* why) {
  optind = 1;
  opterr = 0;
  o->check = wantscheck(argc, argv);
  std::vector<int> given;
  // '+': the options end at SOURCE, so that the program's own are left alone.
  for (int c; (c = getopt_long(argc, argv, "+hV", longopts, nullptr)) != -1;) {
    std::string arg = optarg ? optarg : "";
    if (c >= o_rmin && c <= o_site) {
      if (std::find(given.begin(), given.end(), c) != given.end()) {
        *why = optionname(longopts, c) + " given twice";
        return linkparse::bad;
      }
      given.push_back(c);
    }
    bool ok = true;
    switch (c) {
      case o_allow: ok = o->allow.add(arg); break;
      case o_rmin: ok = seconds(arg, &o->retrymin); break;
      case o_rmax: ok = seconds(arg, &o->retrymax); break;
      case o_dead: ok = wholeseconds(arg, &o->deadafter); break;
      case o_giveway: ok = wholeseconds(arg, &o->giveway); break;
      case o_speed:
        ok = parsespeed(arg, &o->line.speed);
        o->line.given = true;
        break;
      case o_line:
        ok = parseframing(arg, &o->line);
        o->line.given = true;
        break;
      case o_end: ok = hexbyte(arg, &o->endbyte); break;
      case o_metrics:
        o->metrics = arg;
        ok = filepath(arg);
        break;
      case o_site:
        o->site = arg;
        ok = labelvalue(arg);
        break;
      case o_check: break;
      case 'h': return linkparse::help;
      case 'V': return linkparse::version;
      default:
        *why = "unknown option or missing argument: " + std::string(argv[optind - 1]);
        return linkparse::bad;
    }
    if (!ok) {
      *why = "bad value: " + arg;
      return linkparse::bad;
    }
  }
  if (optind + 2 >= argc || std::string(argv[optind + 1]) != "--") {
    *why = "SOURCE, -- and the program to run are needed";
    return linkparse::bad;
  }
  if (!takesource(argv[optind], given, o, why)) return linkparse::bad;
  o->program.assign(argv + optind + 2, argv + argc);
  return linkparse::run;
}

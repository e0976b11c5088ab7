#include "tools/pabxsim/simoptions.h"

#include <getopt.h>

#include <cstdio>
#include <ctime>

#include "tools/common/civil.h"
#include "tools/common/numbers.h"
#include "tools/common/optionname.h"

const char* const simusage =
    "Usage: pabxsim [options]\n"
    "Prints the call records of a simulated exchange.\n"
    "\n"
    "  -f, --format NAME        neax (for pktav-deviroz7e), neax98 (pktav-diziziv7),\n"
    "                           md110 (pktav-md11bc12); default neax\n"
    "  -n, --count N            records to send, 0 for no end (default 100)\n"
    "  -s, --seed N             the same seed gives the same stream (default 1)\n"
    "      --start TIME         end of the first call, YYYY-MM-DDThh:mm[:ss] local time\n"
    "                           or now (default: so that the last call ends now)\n"
    "      --calls-per-hour N   calls an hour on average over a week (default 300),\n"
    "                           at an office's pace: busy mornings and afternoons,\n"
    "                           quiet nights and weekends\n"
    "      --flat               the same pace in every hour, day and night\n"
    "      --noise PERCENT      chance of line noise before a record (default 2)\n"
    "      --damaged PERCENT    chance of a damaged record (default 1)\n"
    "      --rate N             records a second (default: as fast as they are taken)\n"
    "  -o, --output FILE        write to FILE (default: standard output)\n"
    "      --listen ADDR:PORT   serve one TCP client at a time, the next after a drop\n"
    "      --connect HOST:PORT  connect to a TCP server, again after a drop\n"
    "      --pty[=LINK]         write to a new pseudo-terminal, printing its path;\n"
    "                           LINK: a symbolic link kept pointing at it while it is up\n"
    "      --drop-every K       drop the link after every K-th record\n"
    "      --cut-every M        every M-th drop cuts its record in half\n"
    "      --reset-every M      every M-th drop is a reset, not an orderly close\n"
    "      --silence-every K    go silent after every K-th record ...\n"
    "      --silence SECONDS    ... for this long, the link staying up\n"
    "      --replay R           send the latest R records again after a drop\n"
    "      --calls FILE         list the records sent and the CDR lines they become\n"
    "  -h, --help, -V, --version\n";

namespace {

constexpr int firstyear = 1984, lastyear = 2099;  // of --start
constexpr double maxsilence = 1e6;                // seconds, some eleven days
constexpr double minrate = 1e-3, maxrate = 1e9;   // records a second

bool number(const char* text, uint64_t* out) { return parsecount(text, out); }

// A number of seconds or a rate, from 0 to `most`: beyond that the waits
// made of it would not fit the clock's count of nanoseconds.
bool decimal(const char* text, double most, double* out) {
  return parsedecimal(text, out) && *out <= most;
}

bool format(const std::string& name, recformat* out) {
  if (name == "neax")
    *out = recformat::neax;
  else if (name == "neax98")
    *out = recformat::neax98;
  else if (name == "md110")
    *out = recformat::md110;
  else
    return false;
  return true;
}

enum longonly {
  o_start = 256,
  o_cph,
  o_flat,
  o_noise,
  o_damaged,
  o_rate,
  o_listen,
  o_connect,
  o_pty,
  o_dropevery,
  o_cutevery,
  o_resetevery,
  o_silenceevery,
  o_silence,
  o_replay,
  o_calls,
};

const option longopts[] = {
    {"format", required_argument, nullptr, 'f'},
    {"count", required_argument, nullptr, 'n'},
    {"seed", required_argument, nullptr, 's'},
    {"start", required_argument, nullptr, o_start},
    {"calls-per-hour", required_argument, nullptr, o_cph},
    {"flat", no_argument, nullptr, o_flat},
    {"noise", required_argument, nullptr, o_noise},
    {"damaged", required_argument, nullptr, o_damaged},
    {"rate", required_argument, nullptr, o_rate},
    {"output", required_argument, nullptr, 'o'},
    {"listen", required_argument, nullptr, o_listen},
    {"connect", required_argument, nullptr, o_connect},
    {"pty", optional_argument, nullptr, o_pty},
    {"drop-every", required_argument, nullptr, o_dropevery},
    {"cut-every", required_argument, nullptr, o_cutevery},
    {"reset-every", required_argument, nullptr, o_resetevery},
    {"silence-every", required_argument, nullptr, o_silenceevery},
    {"silence", required_argument, nullptr, o_silence},
    {"replay", required_argument, nullptr, o_replay},
    {"calls", required_argument, nullptr, o_calls},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

bool parsestart(const std::string& text, time_t* out) {
  if (text == "now") {
    *out = time(nullptr);
    return true;
  }
  // YYYY-MM-DDThh:mm, then :ss or nothing.
  static const char shape[] = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != 16 && text.size() != 19) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  auto field = [&](size_t at, size_t len) { return std::stoi(text.substr(at, len)); };
  wall w{field(0, 4), field(5, 2), field(8, 2), field(11, 2), field(14, 2), 0};
  if (text.size() == 19) w.second = field(17, 2);
  // The packed time scale begins in 1984; the exchanges print two-digit years.
  if (!validwall(w) || w.year < firstyear || w.year > lastyear) return false;
  std::tm t{};
  t.tm_year = w.year - 1900;
  t.tm_mon = w.month - 1;
  t.tm_mday = w.day;
  t.tm_hour = w.hour;
  t.tm_min = w.minute;
  t.tm_sec = w.second;
  t.tm_isdst = -1;
  *out = mktime(&t);
  return *out != -1;
}

parsed parsesimoptions(int argc, char** argv, simoptions* o, std::string* why) {
  bool startgiven = false;
  std::string destination;  // the option that named it
  uint64_t n = 0;
  optind = 1;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "f:n:s:o:hV", longopts, nullptr)) != -1;) {
    std::string arg = optarg ? optarg : "";
    bool ok = true;
    switch (c) {
      case 'f': ok = format(arg, &o->gen.format); break;
      case 'n': ok = number(optarg, &o->count); break;
      case 's': ok = number(optarg, &o->gen.seed); break;
      case o_start: ok = startgiven = parsestart(arg, &o->gen.start); break;
      case o_cph:
        ok = number(optarg, &n) && n > 0 && n <= 36000;
        o->gen.callsperhour = int(n);
        break;
      case o_flat: o->gen.flat = true; break;
      case o_noise:
        ok = number(optarg, &n) && n <= 100;
        o->gen.noisepercent = int(n);
        break;
      case o_damaged:
        ok = number(optarg, &n) && n <= 100;
        o->gen.damagedpercent = int(n);
        break;
      case o_rate:
        ok = decimal(optarg, maxrate, &o->rate) && (o->rate == 0 || o->rate >= minrate);
        break;
      case 'o':
      case o_listen:
      case o_connect:
      case o_pty: {
        // -o as most write it, not --output.
        std::string name = c == 'o' ? "-o" : optionname(longopts, c);
        if (!destination.empty()) {
          *why = destination + " and " + name + ": one destination only";
          return parsed::bad;
        }
        destination = name;
        o->where = c == 'o'         ? simoptions::file
                   : c == o_listen  ? simoptions::listen
                   : c == o_connect ? simoptions::connect
                                    : simoptions::pty;
        o->target = arg;
        break;
      }
      case o_dropevery: ok = number(optarg, &o->dropevery); break;
      case o_cutevery: ok = number(optarg, &o->cutevery); break;
      case o_resetevery: ok = number(optarg, &o->resetevery); break;
      case o_silenceevery: ok = number(optarg, &o->silenceevery); break;
      case o_silence: ok = decimal(optarg, maxsilence, &o->silence); break;
      case o_replay: ok = number(optarg, &o->replay) && o->replay <= 20; break;
      case o_calls:
        o->callsfile = arg;
        ok = !arg.empty();
        break;
      case 'h': return parsed::help;
      case 'V': return parsed::version;
      default:
        *why = "unknown option or missing argument: " + std::string(argv[optind - 1]);
        return parsed::bad;
    }
    if (!ok) {
      *why = "bad value: " + arg;
      return parsed::bad;
    }
  }
  if (optind < argc) {
    *why = "unexpected argument: " + std::string(argv[optind]);
    return parsed::bad;
  }
  if (!startgiven) {
    // The last call ends about now.
    o->gen.start = pace(o->gen.callsperhour, o->gen.flat).before(time(nullptr), o->count);
  }
  return parsed::run;
}

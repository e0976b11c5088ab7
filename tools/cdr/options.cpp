#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cdr/commands.h"
#include "cdr/diag.h"
#include "tools/common/numbers.h"

#ifndef PKTAV_VERSION
#define PKTAV_VERSION "unknown"
#endif

namespace {

const char* const common_help =
    "  --from TIME         calls ending at or after TIME (YYYY-MM-DD[Thh:mm[:ss]][Z|+hh:mm])\n"
    "  --to TIME           calls ending before TIME; a date alone includes that day\n"
    "  --tz ZONE           the zone the store was written in (default: this machine's)\n"
    "  --strict-dst        never resolve the repeated hour of an autumn night by line order\n"
    "  --help, --version\n";

// Sets the option's member from its value; returns nullptr, or the usage
// message for a value it cannot take (a format with one %s: the value).
using setter = const char* (*)(cdroptions* o, const char* value);

struct cdroption {
  const char* name;
  int argument;  // no_argument or required_argument
  unsigned bit;  // 0: every command takes it
  setter set;    // nullptr: --help and --version, answered by the parser
};

const char* bound(std::optional<timebound>* to, const char* value) {
  timebound b;
  if (!parsebound(value, &b)) return "not a date or time: \"%s\"";
  *to = b;
  return nullptr;
}

const char* range(std::optional<numrange>* to, const char* value) {
  numrange r;
  if (!parserange(value, &r)) return "not a number or range N-M: \"%s\"";
  if (r.lo > r.hi) return "the range \"%s\" runs from high to low: give the lower number first";
  *to = r;
  return nullptr;
}

const char* text(std::string* to, const char* value) {
  *to = value;
  return nullptr;
}

const char* on(bool* to) {
  *to = true;
  return nullptr;
}

const char* digits(cdroptions* o, const char* value) {
  if (strspn(value, "0123456789") != strlen(value)) return "not dialled digits: \"%s\"";
  return text(&o->dialled, value);
}

const char* flags(cdroptions* o, const char* value) {
  selection probe;
  if (!probe.setflags(value)) return "not flags HH or HH/MM: \"%s\"";
  return text(&o->flags, value);
}

// Every option of every command, in one list for getopt: a command given
// another's option is told that it does not go with it, and a shortened
// name is read against all of them.
const cdroption all[] = {
    {"from", required_argument, 0, [](cdroptions* o, const char* v) { return bound(&o->from, v); }},
    {"to", required_argument, 0, [](cdroptions* o, const char* v) { return bound(&o->to, v); }},
    {"tz", required_argument, 0, [](cdroptions* o, const char* v) { return text(&o->tz, v); }},
    {"strict-dst", no_argument, 0, [](cdroptions* o, const char*) { return on(&o->strictdst); }},
    {"help", no_argument, 0, nullptr},
    {"version", no_argument, 0, nullptr},
    {"format", required_argument, opt_format,
     [](cdroptions* o, const char* v) { return text(&o->format, v); }},
    {"station", required_argument, opt_station,
     [](cdroptions* o, const char* v) { return range(&o->station, v); }},
    {"trunk", required_argument, opt_trunk,
     [](cdroptions* o, const char* v) { return range(&o->trunk, v); }},
    {"dialled", required_argument, opt_dialled, digits},
    {"flags", required_argument, opt_flags, flags},
    {"html", required_argument, opt_html,
     [](cdroptions* o, const char* v) { return text(&o->html, v); }},
    {"json", no_argument, opt_json, [](cdroptions* o, const char*) { return on(&o->json); }},
    {"raw", required_argument, opt_raw,
     [](cdroptions* o, const char* v) -> const char* {
       o->raws.push_back(v);  // again for the next log of a rotation
       return nullptr;
     }},
    {"packer", required_argument, opt_packer,
     [](cdroptions* o, const char* v) { return text(&o->packer, v); }},
    {"tariff", required_argument, opt_tariff,
     [](cdroptions* o, const char* v) { return text(&o->tariff, v); }},
    {"directory", required_argument, opt_directory,
     [](cdroptions* o, const char* v) { return text(&o->directory, v); }},
    {"department", required_argument, opt_department,
     [](cdroptions* o, const char* v) { return text(&o->department, v); }},
    {"each-department", no_argument, opt_eachdepartment,
     [](cdroptions* o, const char*) { return on(&o->eachdepartment); }},
    {"site", required_argument, opt_site,
     [](cdroptions* o, const char* v) { return text(&o->site, v); }},
    {"follow", no_argument, opt_follow, [](cdroptions* o, const char*) { return on(&o->follow); }},
    {"reprice", no_argument, opt_reprice, [](cdroptions* o, const char*) { return on(&o->reprice); }},
    {"db", required_argument, opt_db, [](cdroptions* o, const char* v) { return text(&o->db, v); }},
    {"rules", required_argument, opt_rules,
     [](cdroptions* o, const char* v) { return text(&o->rules, v); }},
    {"state", required_argument, opt_state,
     [](cdroptions* o, const char* v) { return text(&o->state, v); }},
    {"exec", required_argument, opt_exec,
     [](cdroptions* o, const char* v) { return text(&o->exec, v); }},
    {"exec-timeout", required_argument, opt_exec,
     [](cdroptions* o, const char* v) -> const char* {
       uint64_t n;
       if (!parsecount(v, &n, 6) || n < 1 || n > 3600) return "not a number of seconds 1-3600: \"%s\"";
       o->exectimeout = static_cast<long>(n);
       return nullptr;
     }},
    {"metrics", required_argument, opt_metrics,
     [](cdroptions* o, const char* v) { return text(&o->metrics, v); }},
    {"batch", required_argument, opt_batch,
     [](cdroptions* o, const char* v) -> const char* {
       uint64_t n;
       if (!parsecount(v, &n, 8) || n < 1 || n > 10000000)
         return "not a number of rows 1-10000000: \"%s\"";
       o->batch = static_cast<long>(n);
       return nullptr;
     }},
};
constexpr int nopts = sizeof all / sizeof all[0];

// getopt_long's view of the list: an option's value is 256 + its index.
constexpr int firstval = 256;
const option* longopts() {
  static const std::array<option, nopts + 1> opts = [] {
    std::array<option, nopts + 1> v{};
    for (int i = 0; i < nopts; ++i) v[i] = {all[i].name, all[i].argument, nullptr, firstval + i};
    return v;  // ends with a zeroed entry
  }();
  return opts.data();
}

// The list of commands with their synopses, names aligned.
std::string usage_all() {
  size_t width = 0;
  for (const cdrcommand& c : commands()) width = std::max(width, strlen(c.name));
  std::string s;
  for (const cdrcommand& c : commands()) {
    s += s.empty() ? "usage: pktav-cdr " : "       pktav-cdr ";
    s += c.name + std::string(width + 1 - strlen(c.name), ' ') + c.synopsis + "\n";
  }
  return s +
         "       pktav-cdr --help | --version\n"
         "Try 'pktav-cdr COMMAND --help' for the options of each.\n";
}

parseresult bad(const char* fmt, const char* arg) {
  fprintf(stderr, "%s: ", progname);
  fprintf(stderr, fmt, arg);
  fprintf(stderr, "\n%s", usage_all().c_str());
  return parseresult::usage;
}

parseresult help(const cdrcommand& c) {
  printf("usage: pktav-cdr %s %s\n", c.name, c.synopsis);
  fputs(c.help, stdout);
  fputs(common_help, stdout);
  return parseresult::done;
}

parseresult version() {
  printf("pktav-cdr (pktav) %s\n", PKTAV_VERSION);
  return parseresult::done;
}

// "--format is a or b, not \"c\"" unless the format is one of the
// command's; the first when none was given.
parseresult checkformat(const cdrcommand& c, std::string* format) {
  if (!c.formats) return parseresult::run;
  std::string words = c.formats;
  if (format->empty()) *format = words.substr(0, words.find('|'));
  if (("|" + words + "|").find("|" + *format + "|") != words.npos) return parseresult::run;
  for (size_t bar; (bar = words.find('|')) != words.npos;) words.replace(bar, 1, " or ");
  return bad(("--format is " + words + ", not \"%s\"").c_str(), format->c_str());
}

// The options, up to `argc`; then the operands.
parseresult readoptions(int argc, char** argv, cdroptions* o) {
  optind = 0;  // 0: a full restart of GNU getopt, for a second parse in one process
  opterr = 0;
  int i;
  while ((i = getopt_long(argc, argv, "", longopts(), nullptr)) != -1) {
    if (i == '?') return bad("unknown option or missing argument: \"%s\"", argv[optind - 1]);
    const cdroption& opt = all[i - firstval];
    if (strcmp(opt.name, "help") == 0) return help(*o->cmd);
    if (strcmp(opt.name, "version") == 0) return version();
    if (opt.bit && !(o->cmd->options & opt.bit))
      return bad("option \"--%s\" does not go with this command", opt.name);
    // An empty value is a mistake in a script, not a wish for the default.
    if (optarg && !*optarg) return bad("option \"--%s\" needs a value", opt.name);
    if (const char* why = opt.set(o, optarg)) return bad(why, optarg);
  }
  for (int k = optind; k < argc; ++k) o->inputs.push_back(argv[k]);
  return parseresult::run;
}

}  // namespace

parseresult parseoptions(int argc, char** argv, cdroptions* o) {
  if (argc < 2) return bad("%s", "a command is needed");
  std::string_view word = argv[1];
  if (word == "--help" || word == "-h") {
    fputs(usage_all().c_str(), stdout);
    return parseresult::done;
  }
  if (word == "--version") return version();
  o->cmd = findcommand(word);
  if (!o->cmd) return bad("unknown command \"%s\"", argv[1]);

  // Words after "--" are the packer's options, not ours.
  int end = argc;
  for (int i = 2; i < argc; ++i)
    if (strcmp(argv[i], "--") == 0) {
      end = i;
      break;
    }
  for (int i = end + 1; i < argc; ++i) o->packeroptions.push_back(argv[i]);

  if (parseresult r = readoptions(end - 1, argv + 1, o); r != parseresult::run) return r;
  if (o->inputs.empty() && !o->cmd->nostore) return bad("%s", "no store or file given");
  if (!o->inputs.empty() && o->cmd->nostore)
    return bad("this command reads no store: \"%s\"", o->inputs.front().c_str());
  if (checkformat(*o->cmd, &o->format) != parseresult::run) return parseresult::usage;
  if (const char* why = o->cmd->check ? o->cmd->check(*o) : nullptr) return bad("%s", why);
  if (!o->packeroptions.empty() && o->packer.empty())
    return bad("%s", "options after -- are for the packer of --packer");
  return parseresult::run;
}

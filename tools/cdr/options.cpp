#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

#include "cdr/diag.h"

#ifndef PKTAV_VERSION
#define PKTAV_VERSION "unknown"
#endif

namespace {

const char* const usage_all =
    "usage: pktav-cdr query  [options] STORE|FILE...\n"
    "       pktav-cdr report [options] STORE|FILE...\n"
    "       pktav-cdr audit  [options] STORE|FILE... [--raw LOG --packer PROGRAM [-- OPTION...]]\n"
    "       pktav-cdr --help | --version\n"
    "Try 'pktav-cdr COMMAND --help' for the options of each.\n";

const char* const common_help =
    "  --from TIME         calls ending at or after TIME (YYYY-MM-DD[Thh:mm[:ss]][Z|+hh:mm])\n"
    "  --to TIME           calls ending before TIME; a date alone includes that day\n"
    "  --tz ZONE           the zone the store was written in (default: this machine's)\n"
    "  --strict-dst        never resolve the repeated hour of an autumn night by line order\n"
    "  --help, --version\n";

const char* const query_help =
    "usage: pktav-cdr query [options] STORE|FILE...\n"
    "Writes the selected calls as CSV (RFC 4180, header row) or JSON Lines.\n"
    "  --format csv|json   output format (default csv)\n"
    "  --station N[-M]     calls of these stations\n"
    "  --trunk N[-M]       calls on these trunks\n"
    "  --dialled DIGITS    calls whose dialled digits start so\n"
    "  --flags HH[/MM]     calls whose flags, masked with MM (default ff), are HH (hexadecimal)\n";

const char* const report_help =
    "usage: pktav-cdr report [options] STORE|FILE...\n"
    "Totals per station, trunk, day and hour of day: calls, talk time, meter pulses,\n"
    "calls with a charge code.\n"
    "  --format text|csv   output format (default text)\n"
    "  --html FILE         also write a page with pictures of the traffic to FILE\n"
    "  --station, --trunk, --dialled, --flags as for query\n";

const char* const audit_help =
    "usage: pktav-cdr audit [options] STORE|FILE... [--raw LOG --packer PROGRAM [-- OPTION...]]\n"
    "Checks the store; exit 0 when sound, 1 with one finding per line.\n"
    "  --json              findings as JSON Lines\n"
    "  --raw LOG           reconcile the store with this raw data log (again for\n"
    "                      the next of a rotation, oldest first) ...\n"
    "  --packer PROGRAM    ... replayed through this packer build (path or name on PATH)\n"
    "                      with the OPTIONs after --, validation off, into a scratch store\n";

enum longopt {
  opt_from = 256,
  opt_to,
  opt_tz,
  opt_strict,
  opt_help,
  opt_version,
  opt_format,
  opt_station,
  opt_trunk,
  opt_dialled,
  opt_flags,
  opt_html,
  opt_json,
  opt_raw,
  opt_packer,
};

const option longopts[] = {
    {"from", required_argument, nullptr, opt_from},
    {"to", required_argument, nullptr, opt_to},
    {"tz", required_argument, nullptr, opt_tz},
    {"strict-dst", no_argument, nullptr, opt_strict},
    {"help", no_argument, nullptr, opt_help},
    {"version", no_argument, nullptr, opt_version},
    {"format", required_argument, nullptr, opt_format},
    {"station", required_argument, nullptr, opt_station},
    {"trunk", required_argument, nullptr, opt_trunk},
    {"dialled", required_argument, nullptr, opt_dialled},
    {"flags", required_argument, nullptr, opt_flags},
    {"html", required_argument, nullptr, opt_html},
    {"json", no_argument, nullptr, opt_json},
    {"raw", required_argument, nullptr, opt_raw},
    {"packer", required_argument, nullptr, opt_packer},
    {nullptr, 0, nullptr, 0},
};

parseresult bad(const char* fmt, const char* arg) {
  fprintf(stderr, "%s: ", progname);
  fprintf(stderr, fmt, arg);
  fprintf(stderr, "\n%s", usage_all);
  return parseresult::usage;
}

const char* helpof(cdroptions::command c) {
  switch (c) {
    case cdroptions::command::query: return query_help;
    case cdroptions::command::report: return report_help;
    default: return audit_help;
  }
}

const char* nameof(int opt) {
  for (const option& o : longopts)
    if (o.name && o.val == opt) return o.name;
  return "?";
}

// Which options each command takes.
bool allowed(cdroptions::command c, int opt) {
  using cmd = cdroptions::command;
  switch (opt) {
    case opt_format:
    case opt_station:
    case opt_trunk:
    case opt_dialled:
    case opt_flags: return c != cmd::audit;
    case opt_html: return c == cmd::report;
    case opt_json:
    case opt_raw:
    case opt_packer: return c == cmd::audit;
    default: return true;
  }
}

parseresult setoption(cdroptions* o, int opt, const char* arg) {
  switch (opt) {
    case opt_from:
    case opt_to: {
      timebound b;
      if (!parsebound(arg, &b)) return bad("not a date or time: \"%s\"", arg);
      (opt == opt_from ? o->from : o->to) = b;
      break;
    }
    case opt_tz: o->tz = arg; break;
    case opt_strict: o->strictdst = true; break;
    case opt_format: o->format = arg; break;
    case opt_station:
    case opt_trunk: {
      numrange r;
      if (!parserange(arg, &r)) return bad("not a number or range N-M: \"%s\"", arg);
      (opt == opt_station ? o->station : o->trunk) = r;
      break;
    }
    case opt_dialled:
      if (strspn(arg, "0123456789") != strlen(arg)) return bad("not dialled digits: \"%s\"", arg);
      o->dialled = arg;
      break;
    case opt_flags: {
      selection probe;
      if (!probe.setflags(arg)) return bad("not flags HH or HH/MM: \"%s\"", arg);
      o->flags = arg;
      break;
    }
    case opt_html: o->html = arg; break;
    case opt_json: o->json = true; break;
    case opt_raw: o->raws.push_back(arg); break;
    case opt_packer: o->packer = arg; break;
  }
  return parseresult::run;
}

}  // namespace

parseresult parseoptions(int argc, char** argv, cdroptions* o) {
  if (argc < 2) return bad("%s", "a command is needed");
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h") {
    fputs(usage_all, stdout);
    return parseresult::done;
  }
  if (cmd == "--version") {
    printf("pktav-cdr (pktav) %s\n", PKTAV_VERSION);
    return parseresult::done;
  }
  if (cmd == "query")
    o->cmd = cdroptions::command::query;
  else if (cmd == "report")
    o->cmd = cdroptions::command::report;
  else if (cmd == "audit")
    o->cmd = cdroptions::command::audit;
  else
    return bad("unknown command \"%s\"", argv[1]);

  // Words after "--" are the packer's options, not ours.
  int end = argc;
  for (int i = 2; i < argc; ++i)
    if (strcmp(argv[i], "--") == 0) {
      end = i;
      break;
    }
  for (int i = end + 1; i < argc; ++i) o->packeroptions.push_back(argv[i]);

  optind = 0;  // 0: a full restart of GNU getopt, for a second parse in one process
  opterr = 0;
  int sub_argc = end - 1;
  char** sub_argv = argv + 1;
  int opt;
  while ((opt = getopt_long(sub_argc, sub_argv, "", longopts, nullptr)) != -1) {
    if (opt == '?') return bad("unknown option or missing argument: \"%s\"", sub_argv[optind - 1]);
    if (opt == opt_help) {
      fputs(helpof(o->cmd), stdout);
      fputs(common_help, stdout);
      return parseresult::done;
    }
    if (opt == opt_version) {
      printf("pktav-cdr (pktav) %s\n", PKTAV_VERSION);
      return parseresult::done;
    }
    if (!allowed(o->cmd, opt))
      return bad("option \"%s\" does not go with this command", sub_argv[optind - 1]);
    // An empty value is a mistake in a script, not a wish for the default.
    if (optarg && !*optarg) return bad("option \"--%s\" needs a value", nameof(opt));
    if (setoption(o, opt, optarg) != parseresult::run) return parseresult::usage;
  }
  for (int i = optind; i < sub_argc; ++i) o->inputs.push_back(sub_argv[i]);
  if (o->inputs.empty()) return bad("%s", "no store or file given");

  const bool query = o->cmd == cdroptions::command::query;
  if (o->format.empty()) o->format = query ? "csv" : "text";
  if (query && o->format != "csv" && o->format != "json")
    return bad("--format is csv or json, not \"%s\"", o->format.c_str());
  if (o->cmd == cdroptions::command::report && o->format != "text" && o->format != "csv")
    return bad("--format is text or csv, not \"%s\"", o->format.c_str());
  if (o->raws.empty() != o->packer.empty()) return bad("%s", "--raw and --packer go together");
  if (!o->packeroptions.empty() && o->packer.empty())
    return bad("%s", "options after -- are for the packer of --packer");
  if (!o->raws.empty() && o->inputs.size() != 1)
    return bad("%s", "reconciliation takes one store directory");
  return parseresult::run;
}

// The table of pktav-cdr's commands.
//
// Adding a command, say `watch`:
//   1. Write its unit, watch.cpp, with `int runwatch(const cdroptions& o)`
//      returning a code of exits.h. What every command shares is in
//      sinks.h: the selection of the options, the inputs read into a sink
//      that warns of bad lines, the last flush of standard output.
//   2. Declare runwatch in commands.h and give it a row below: its name,
//      run, synopsis, help, the options it takes (bits of options.h), its
//      --format words if it has any, and a check of the rules of its line
//      that no single option knows, if it has any.
//   3. List watch.cpp in CMakeLists.txt; describe it in man/pktav-cdr.1 and
//      add its name to the man page test in tests/cdr.cmake (it holds the
//      page to --help); test it in tests/cdr_watch_test.cpp.
// The parser, --help, the usage message, their tests and main() read the
// table and need nothing more. An option no command has yet is a row in
// options.cpp's list, a bit in options.h and a member of cdroptions.
#include "cdr/commands.h"

namespace {

const char* auditrules(const cdroptions& o) {
  if (o.raws.empty() != o.packer.empty()) return "--raw and --packer go together";
  if ((!o.raws.empty() || !o.db.empty()) && o.inputs.size() != 1)
    return "reconciliation takes one store directory";
  if (!o.site.empty() && o.db.empty()) return "--site goes with --db";
  return nullptr;
}

const char* loadrules(const cdroptions& o) {
  if (o.inputs.size() != 2) return "load takes a DATABASE and a STORE directory";
  if (o.reprice) {
    if (o.follow) return "--reprice does not go with --follow";
    if (o.tariff.empty() && o.directory.empty()) return "--reprice needs --tariff or --directory";
    if (!o.from || !o.to) return "--reprice needs --from and --to";
  }
  return nullptr;
}

const char* billrules(const cdroptions& o) {
  if (o.tariff.empty()) return "a bill needs --tariff";
  if (!o.department.empty() + o.station.has_value() + o.eachdepartment != 1)
    return "a bill is of one of --department, --station or --each-department";
  if (o.directory.empty() && !o.station) return "--department and --each-department need --directory";
  return nullptr;
}

const char* checkrules(const cdroptions& o) {
  if (o.tariff.empty() && o.directory.empty() && o.rules.empty())
    return "check needs --tariff, --directory, --rules or several of them";
  return nullptr;
}

const char* watchrules(const cdroptions& o) {
  if (o.rules.empty()) return "watch needs --rules";
  if (o.follow && o.inputs.size() != 1) return "watch --follow follows one store";
  if (!o.follow && !o.state.empty()) return "--state goes with --follow";
  if (!o.follow && !o.metrics.empty()) return "--metrics goes with --follow";
  return nullptr;
}

// name, run, synopsis, help, options, formats, check
const cdrcommand table[] = {
    {"query", runquery, "[options] STORE|FILE...",
     "Writes the selected calls as CSV (RFC 4180, header row) or JSON Lines.\n"
     "  --format csv|json   output format (default csv)\n"
     "  --station N[-M]     calls of these stations\n"
     "  --trunk N[-M]       calls on these trunks\n"
     "  --dialled DIGITS    calls whose dialled digits start so\n"
     "  --flags HH[/MM]     calls whose flags, masked with MM (default ff), are HH (hexadecimal)\n"
     "  --tariff FILE       add each call's destination, billed seconds and cost\n"
     "  --directory FILE    add the name and department of each call's station\n",
     opt_format | opts_select | opts_price, "csv|json"},
    {"report", runreport, "[options] STORE|FILE...",
     "Totals per station, trunk, day and hour of day: calls, talk time, meter pulses,\n"
     "calls with a charge code.\n"
     "  --format text|csv   output format (default text)\n"
     "  --html FILE         also write a page with pictures of the traffic to FILE\n"
     "  --station, --trunk, --dialled, --flags as for query\n"
     "  --tariff FILE       add the cost to every total, and totals per destination\n"
     "  --directory FILE    add totals per department\n",
     opt_format | opts_select | opt_html | opts_price, "text|csv"},
    {"audit", runaudit, "[options] STORE|FILE... [--raw LOG --packer PROGRAM [-- OPTION...]]",
     "Checks the store; exit 0 when sound, 1 with one finding per line.\n"
     "  --json              findings as JSON Lines\n"
     "  --raw LOG           reconcile the store with this raw data log (again for\n"
     "                      the next of a rotation, oldest first) ...\n"
     "  --packer PROGRAM    ... replayed through this packer build (path or name on PATH)\n"
     "                      with the OPTIONs after --, validation off, into a scratch store\n"
     "  --db DATABASE       reconcile the store with the calls loaded into DATABASE\n"
     "  --site NAME         ... as those of this site (default: the store's folder name)\n",
     opt_json | opt_raw | opt_packer | opt_db | opt_site, nullptr, auditrules},
    {"load", runload, "[options] DATABASE STORE",
     "Loads the calls of the store into DATABASE, each exactly once, and remembers how\n"
     "far each hour file is loaded, so that the next run loads only what is new.\n"
     "DATABASE is the path of an SQLite file (made when missing) or a PostgreSQL\n"
     "connection string or URI (postgresql://..., host=... dbname=...).\n"
     "  --site NAME         the site the calls are of (default: the store's folder name)\n"
     "  --follow            keep running: load new lines as they come, wait for the\n"
     "                      database when it goes away; SIGTERM ends it\n"
     "  --batch ROWS        rows committed at a time, with their positions (default 50000)\n"
     "  --tariff FILE       price each call by these rates (destination, billed, cost_units)\n"
     "  --directory FILE    name each call's station and department (name, department)\n"
     "  --reprice           price the calls loaded between --from and --to again, by\n"
     "                      --tariff and/or --directory, in one transaction\n",
     opt_site | opt_follow | opt_batch | opts_price | opt_reprice, nullptr, loadrules},
    {"bill", runbill,
     "(--department NAME | --station N[-M] | --each-department) --tariff FILE [options] "
     "STORE|FILE...",
     "Bills the calls of a department or of stations: each call, subtotals per station\n"
     "and per destination, the total.\n"
     "  --tariff FILE       the rates the calls are priced by\n"
     "  --directory FILE    the stations' names and departments\n"
     "  --department NAME   the calls of this department and of those within it\n"
     "  --station N[-M]     the calls of these stations\n"
     "  --each-department   one bill for each department of the directory\n"
     "  --format text|csv   output format (default text)\n"
     "  --html FILE         also write the bills as a page to print, one a sheet\n",
     opt_format | opt_html | opt_station | opts_price | opt_department | opt_eachdepartment,
     "text|csv", billrules},
    {"watch", runwatch, "--rules FILE [options] STORE|FILE...",
     "Checks the calls of the period against the rules of FILE and writes one alarm\n"
     "a line; exit 0 when none was raised, 1 when any was. With --follow, checks the\n"
     "calls as they come into STORE until SIGTERM or SIGINT.\n"
     "  --rules FILE        the rules: destinations, long calls, bursts, costs, silences\n"
     "  --json              alarms as JSON Lines\n"
     "  --tariff FILE       the rates a cost rule prices calls by\n"
     "  --directory FILE    the departments a rule's department= names\n"
     "  --follow            follow the store: each new call checked as it is stored\n"
     "  --state FILE        where --follow keeps how far it read and the rules' state,\n"
     "                      to go on from there after a restart\n"
     "  --exec COMMAND      run COMMAND by the shell for each alarm, the alarm on its\n"
     "                      standard input and in PKTAV_ALARM_* variables\n"
     "  --exec-timeout SECONDS  end a command still running after this (default 30)\n"
     "  --metrics FILE      with --follow, write the watch's metrics to FILE in the\n"
     "                      Prometheus text format, at least every 15 s\n"
     "  --site NAME         the label site of the metrics\n",
     opt_rules | opt_json | opts_price | opt_follow | opt_state | opt_exec | opt_metrics |
         opt_site,
     nullptr, watchrules},
    {"check", runcheck, "[--tariff FILE] [--directory FILE] [--rules FILE]",
     "Checks a tariff, a station directory and the rules of watch: every error and\n"
     "every rate that can never be chosen, with its line; exit 0 when sound, 1 with\n"
     "warnings only, 2 with errors. Rules are checked with the tariff and the\n"
     "directory given, as watch reads them.\n"
     "  --tariff FILE       the tariff to check\n"
     "  --directory FILE    the station directory to check\n"
     "  --rules FILE        the rules to check\n",
     opts_price | opt_rules, nullptr, checkrules, true},
};

}  // namespace

std::span<const cdrcommand> commands() { return table; }

const cdrcommand* findcommand(std::string_view name) {
  for (const cdrcommand& c : table)
    if (name == c.name) return &c;
  return nullptr;
}

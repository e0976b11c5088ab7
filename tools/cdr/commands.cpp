// The table of pktav-cdr's commands.
//
// Adding a command, say `check`:
//   1. Write its unit, check.cpp, with `int runcheck(const cdroptions& o)`
//      returning a code of exits.h. What every command shares is in
//      sinks.h: the selection of the options, the inputs read into a sink
//      that warns of bad lines, the last flush of standard output.
//   2. Declare runcheck in commands.h and give it a row below: its name,
//      run, synopsis, help, the options it takes (bits of options.h), its
//      --format words if it has any, and a check of the rules of its line
//      that no single option knows, if it has any.
//   3. List check.cpp in CMakeLists.txt; describe it in man/pktav-cdr.1 and
//      add its name to the man page test in tests/cdr.cmake (it holds the
//      page to --help); test it in tests/cdr_check_test.cpp.
// The parser, --help, the usage message, their tests and main() read the
// table and need nothing more. An option no command has yet is a row in
// options.cpp's list, a bit in options.h and a member of cdroptions.
#include "cdr/commands.h"

namespace {

const char* auditrules(const cdroptions& o) {
  if (o.raws.empty() != o.packer.empty()) return "--raw and --packer go together";
  if (!o.raws.empty() && o.inputs.size() != 1) return "reconciliation takes one store directory";
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
     "  --flags HH[/MM]     calls whose flags, masked with MM (default ff), are HH (hexadecimal)\n",
     opt_format | opts_select, "csv|json"},
    {"report", runreport, "[options] STORE|FILE...",
     "Totals per station, trunk, day and hour of day: calls, talk time, meter pulses,\n"
     "calls with a charge code.\n"
     "  --format text|csv   output format (default text)\n"
     "  --html FILE         also write a page with pictures of the traffic to FILE\n"
     "  --station, --trunk, --dialled, --flags as for query\n",
     opt_format | opts_select | opt_html, "text|csv"},
    {"audit", runaudit, "[options] STORE|FILE... [--raw LOG --packer PROGRAM [-- OPTION...]]",
     "Checks the store; exit 0 when sound, 1 with one finding per line.\n"
     "  --json              findings as JSON Lines\n"
     "  --raw LOG           reconcile the store with this raw data log (again for\n"
     "                      the next of a rotation, oldest first) ...\n"
     "  --packer PROGRAM    ... replayed through this packer build (path or name on PATH)\n"
     "                      with the OPTIONs after --, validation off, into a scratch store\n",
     opt_json | opt_raw | opt_packer, nullptr, auditrules},
};

}  // namespace

std::span<const cdrcommand> commands() { return table; }

const cdrcommand* findcommand(std::string_view name) {
  for (const cdrcommand& c : table)
    if (name == c.name) return &c;
  return nullptr;
}

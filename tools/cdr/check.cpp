// pktav-cdr check: a tariff, a station directory and the rules of watch
// checked as the commands read them, every problem with its line.
#include <cstdio>

#include "cdr/commands.h"
#include "cdr/exits.h"
#include "cdr/pricing.h"
#include "cdr/rules.h"

int runcheck(const cdroptions& o) {
  pricing p;
  std::vector<fileproblem> problems;
  bool good = p.load(o.tariff.empty() ? nullptr : &o.tariff,
                     o.directory.empty() ? nullptr : &o.directory, &problems);
  watchrules rules;
  // Rules are fitted to the files only when those are sound.
  bool rulesgood =
      o.rules.empty() || (rules.load(o.rules, &problems) && (!good || rules.fits(p, &problems)));
  good = good && rulesgood;
  showproblems(problems);
  if (!good) return exit_trouble;
  if (p.priced())
    printf("%s: %zu rates, %zu destinations\n", o.tariff.c_str(), p.rates().rows().size(),
           p.rates().destinations().size() - tariff::firstnamed);
  if (p.listed())
    printf("%s: %zu stations, %zu departments\n", o.directory.c_str(),
           p.stations().numbers().size(), p.stations().departments().size() - 1);
  if (!o.rules.empty()) printf("%s: %zu rules\n", o.rules.c_str(), rules.rules().size());
  if (fflush(stdout) != 0) return exit_trouble;
  return problems.empty() ? exit_ok : exit_found;
}

// What pktav-cdr watch --metrics tells a monitoring system, in the
// Prometheus text format (for node_exporter's textfile collector): the
// calls checked, the alarms raised and those raised and not cleared, by
// rule, the end of the latest call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cdr/rules.h"

struct watchcounts {
  uint64_t calls = 0;               // checked against the rules
  std::vector<uint64_t> raised;     // by rule, as the rules file lists them
  std::vector<uint64_t> active;     // by rule, raised and not cleared
  int64_t lastcall = 0;             // the end of the latest call, seconds since 1970; 0: none
};

// The text of the file; `site` labels every sample unless empty.
std::string watchexposition(const watchcounts& c, const watchrules& rules,
                            const std::string& site);

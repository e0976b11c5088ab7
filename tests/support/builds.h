// The three builds of the packer, for tests that run each of them.
#pragma once

#include <ostream>
#include <string>

#include "support/e2e.h"

struct packerbuild {
  const char* name;
  std::string bin;
  recordformat format;
};

inline void PrintTo(const packerbuild& b, std::ostream* os) { *os << b.name; }

inline const packerbuild allbuilds[] = {
    {"deviroz7e", PKTAV_DEVIROZ7E, recordformat::neax},
    {"diziziv7", PKTAV_DIZIZIV7, recordformat::neax},
    {"md11bc12", PKTAV_MD11BC12, recordformat::md110},
};

// For INSTANTIATE_TEST_SUITE_P: the build's name as the test's.
inline std::string buildname(const ::testing::TestParamInfo<packerbuild>& info) {
  return info.param.name;
}

#include "tools/common/optionname.h"

std::string optionname(const option* table, int val) {
  for (const option* o = table; o->name; ++o)
    if (o->val == val) return std::string("--") + o->name;
  if (val > ' ' && val < 0x7f) return std::string("-") + static_cast<char>(val);
  return "?";
}

// libFuzzer entry for the files people write for pktav-cdr: the first byte
// chooses the tariff or the station directory, the rest is the file. What
// reads without errors is then looked up: numbers made of the input's own
// digits at every moment of the week for the tariff, every station for
// the directory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cdr/directory.h"
#include "cdr/tariff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<fileproblem> problems;
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  if (data[0] & 1) {
    directory d;
    if (!d.parse(text, "stations.csv", &problems)) return 0;
    for (const directory::entry& e : d.entries())
      for (uint32_t k = e.department; k != directory::nodepartment; k = d.parent(k))
        if (!d.within(e.department, k) || d.departmentof(d.departments()[k]) != k) __builtin_trap();
    return 0;
  }
  tariff t;
  if (!t.parse(text, "tariff.csv", &problems)) return 0;
  for (int minute = 0; minute < week_minutes; minute += 37)
    for (size_t from = 0; from < digits.size(); from += 5) {
      const rate* r = t.find(std::string_view(digits).substr(from, 24), {minute / 1440, minute % 1440});
      if (r && (r->destination >= t.destinations().size() || !r->when.holds({minute / 1440, minute % 1440})))
        __builtin_trap();
      if (r) (void)callcost(*r, 3999996, billedseconds(3999996, r->first, r->step), 8191);
    }
  return 0;
}

// The store tree: hourly files DIR/MM_YYYY/DD_MM_YYYY/DD_MM_YYYY:hh, named
// by the end time of their calls. The walk visits them in time order and
// also finds hour files that lost a level of the tree (an hour file in a
// month directory or at the top, a day directory at the top) or sit under
// a day or month that is not theirs, so that their calls are read and the
// audit can name them.
#pragma once

#include <sys/types.h>

#include <compare>
#include <functional>
#include <string>
#include <string_view>

// An hour of the tree's names; fields not named are 0 (hour -1).
struct hourkey {
  int year = 0, month = 0, day = 0, hour = -1;
  auto operator<=>(const hourkey&) const = default;
};

// "DD_MM_YYYY:hh", "DD_MM_YYYY", "MM_YYYY" with a valid date and hour.
bool parsehourname(std::string_view name, hourkey* key);
bool parsedayname(std::string_view name, hourkey* key);
bool parsemonthname(std::string_view name, hourkey* key);

// "MM_YYYY/DD_MM_YYYY/DD_MM_YYYY:hh": where an hour's file belongs.
std::string hourpath(const hourkey& key);

enum class placement {
  proper,      // in its day's directory in its month's directory
  noday,       // directly in a month directory
  nomonth,     // in a day directory at the top of the store
  bare,        // at the top of the store
  wrongday,    // in the directory of another day
  wrongmonth,  // its day directory is in the directory of another month
  given,       // named on the command line
};
const char* placementtext(placement p);  // for findings; "" for proper and given

struct hourfile {
  std::string path;  // as the walk reached it: root + "/" + relative path
  hourkey key;       // from the file's name; hour -1 if it has none
  placement where = placement::proper;
};

// Visits every hour file under root whose hour lies in [lo, hi], in time
// order (misplaced files beside the proper ones of their hour). A directory
// that cannot be read, or an entry that cannot be reached (a link to
// nothing), is passed to onerror with its errno and skipped. A stray in the
// directories the period reaches is passed to onstray, if given, with what
// it is ("not an hour file").
void walkstore(const std::string& root, const hourkey& lo, const hourkey& hi,
               const std::function<void(const hourfile&)>& visit,
               const std::function<void(const std::string&, int)>& onerror,
               const std::function<void(const std::string&, const char*)>& onstray = nullptr);

// "a FIFO, not a regular file" and the like, for what a mode is.
const char* notregular(mode_t mode);

// The widest range of hours.
inline constexpr hourkey firsthour{0, 0, 0, -1};
inline constexpr hourkey lasthour{99999, 99, 99, 99};

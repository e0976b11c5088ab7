// The cache of local hours against the C library itself: one sequence of
// conversions is run by a child process straight through the library and
// by another through the cache, and every answer must be the same. The
// library's mktime remembers its last answer, so the two runs must each
// start from the same state: a fresh child of this process for each.
#include "packer/hourcache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/proc.h"

namespace {

struct request {
  bool tolocal;  // localtime of `at`, else mktime of `fields`
  time_t at;
  std::tm fields;
};

std::string show(const std::tm& t) {
  char text[200];
  snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d wday %d yday %d dst %d off %ld %s", t.tm_year,
           t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, t.tm_yday, t.tm_isdst,
           t.tm_gmtoff, t.tm_zone ? t.tm_zone : "-");
  return text;
}

// One line per request: the local time, or mktime's answer.
std::string answers(const std::vector<request>& reqs, bool cached) {
  std::string out;
  for (const request& r : reqs) {
    if (r.tolocal) {
      std::tm t{};
      std::tm* got = cached ? cachedlocaltime(r.at, &t) : localtime_r(&r.at, &t);
      out += got ? show(t) : "null";
    } else {
      std::tm t = r.fields;
      out += std::to_string(cached ? cachedmktime(t) : mktime(&t));
    }
    out += '\n';
  }
  return out;
}

// The answers of a child process in zone tz, through the cache or not.
std::string childanswers(const char* tz, const std::vector<request>& reqs, bool cached) {
  return inchild([&] {
    setenv("TZ", tz, 1);
    tzset();
    resethourcache();
    std::string out = answers(reqs, cached);
    // The share of requests the cache answered, last.
    if (cached) out += "misses " + std::to_string(hourcachemisses()) + "\n";
    return out;
  });
}

// The instants, from 1983 to 2040, at which the zone's offset changes.
std::vector<time_t> changes(const char* tz) {
  const std::string text = inchild([&] {
    setenv("TZ", tz, 1);
    tzset();
    std::string out;
    std::tm prev{}, t{};
    for (time_t at = 410227200; at < 2208988800; at += 1800) {  // 1983 to 2040
      if (at == 536457600) at = 1704067200;                     // 1987 to 2024 are much the same
      localtime_r(&at, &t);
      if (at > 410227200 && t.tm_gmtoff != prev.tm_gmtoff) {
        time_t lo = at - 1800;  // the last second of the old offset
        while (at - lo > 1) {
          time_t mid = lo + (at - lo) / 2;
          std::tm m;
          localtime_r(&mid, &m);
          (m.tm_gmtoff == prev.tm_gmtoff ? lo : at) = mid;
        }
        out += std::to_string(at) + "\n";
        at = lo + 1800;
      }
      prev = t;
    }
    return out;
  });
  std::vector<time_t> found;
  for (const char* p = text.c_str(); *p;) {
    char* end;
    found.push_back(static_cast<time_t>(strtoll(p, &end, 10)));
    p = *end ? end + 1 : end;
  }
  return found;
}

// Requests around the given instants: runs of conversions in one hour (the
// cache's daily bread), local times of the instants just around each
// change, and mktime of times that occur twice, never, or are out of range.
std::vector<request> sequence(unsigned seed, const std::vector<time_t>& around, const char* tz) {
  // Local times of the instants come from the library in a child, so the
  // requests for mktime are real local times of the zone.
  std::vector<request> reqs;
  std::mt19937 gen(seed);
  auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 3000; ++round) {
    time_t centre = around[static_cast<size_t>(pick(static_cast<int>(around.size())))];
    int spread = pick(4) == 0 ? 200000 : 8000;
    time_t at = centre + pick(2 * spread) - spread;
    int run = 1 + pick(12);
    for (int i = 0; i < run; ++i) reqs.push_back({true, at + pick(600), {}});
  }
  std::vector<request> locals = reqs;
  std::string shown = childanswers(tz, locals, false);
  // Each local time shown becomes a mktime request, some of them changed.
  size_t line = 0;
  for (const char* p = shown.c_str(); *p; ++line) {
    std::tm t{};
    if (sscanf(p, "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
               &t.tm_sec) != 6)
      break;
    t.tm_isdst = -1;
    switch (pick(12)) {
      case 0: t.tm_min = pick(256); break;
      case 1: t.tm_sec = pick(256); break;
      case 2: t.tm_hour = pick(256); break;
      case 3: t.tm_mday = pick(257); break;
      case 4: t.tm_mon = pick(256); break;
      case 5: t.tm_hour = (t.tm_hour + 1) % 24; break;  // into a gap, or the other pass
      case 6: t.tm_isdst = pick(2); break;
      default: break;
    }
    reqs.push_back({false, 0, t});
    if (pick(3) == 0) reqs.push_back(reqs[line]);  // mixed with local times
    while (*p && *p != '\n') ++p;
    if (*p) ++p;
  }
  // Mixed a little, as the times of a record, the clock and the next
  // record mix.
  for (size_t i = locals.size(); i + 8 <= reqs.size(); i += 8)
    std::shuffle(reqs.begin() + static_cast<long>(i), reqs.begin() + static_cast<long>(i + 8), gen);
  return reqs;
}

TEST(HourCache, GivesTheLibrarysAnswersInEveryZone) {
  const char* zones[] = {"Europe/Berlin",       "UTC",
                         "Australia/Lord_Howe", "America/St_Johns",
                         "Asia/Kolkata",        "Pacific/Chatham",
                         "Australia/Adelaide",  "CET-1CEST,M3.5.0,M10.5.0/3",
                         "America/Sao_Paulo"};
  for (const char* tz : zones) {
    std::vector<time_t> around = changes(tz);
    around.push_back(446860800);   // 1984-03-01, where the packed scale begins
    around.push_back(1796731200);  // 2026-12-08
    for (unsigned seed = 1; seed <= 2; ++seed) {
      std::vector<request> reqs = sequence(seed, around, tz);
      std::string library = childanswers(tz, reqs, false);
      std::string cached = childanswers(tz, reqs, true);
      ASSERT_FALSE(library.empty()) << tz;
      size_t tail = cached.rfind("misses ");
      ASSERT_NE(tail, std::string::npos);
      unsigned long misses = std::stoul(cached.substr(tail + 7));
      cached.resize(tail);
      EXPECT_LT(misses, reqs.size() / 2) << tz << ": the cache answered too little";
      // Compared line by line, so that a failure names the request.
      size_t at = 0, n = 0;
      while (at < library.size()) {
        size_t end = library.find('\n', at);
        ASSERT_EQ(cached.substr(at, end - at), library.substr(at, end - at))
            << tz << ", seed " << seed << ", request " << n;
        at = end + 1;
        ++n;
      }
      EXPECT_EQ(cached.size(), library.size()) << tz;
    }
  }
}

}  // namespace

// The positions of a site's hour files, read from the database a month of
// hours at a time and kept for the last two months read, so that a walk in
// time order asks once a month and memory does not grow with the store.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "cdr/database.h"
#include "cdr/storewalk.h"

class positions {
 public:
  positions(database& db, const std::string& site) : db_(db), site_(site) {}

  // The file's position, or nullptr when it has none.
  const loadedfile* find(const std::string& rel, int64_t hour);
  // A position committed.
  void put(const loadedfile& f);
  void clear() { months_.clear(); }

 private:
  database& db_;
  const std::string& site_;
  std::map<int64_t, std::unordered_map<std::string, loadedfile>> months_;  // by YYYYMM
};

// YYYYMMDDhh of an hour, as the positions hold it.
int64_t hournumber(const hourkey& k);

// The station directory: who each station is and which department pays
// for it, read from a CSV file with the header row
//
//   station,name,department
//
// A department may be a path of departments within departments
// ("Sales/North"): its calls count in "Sales/North" and in "Sales". A
// station the directory does not list, or lists without a department, is
// in none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cdr/fileproblem.h"

class directory {
 public:
  // Departments by number: 0 is none, its name "(none)".
  static constexpr uint32_t nodepartment = 0;

  struct entry {
    std::string name;
    uint32_t department = nodepartment;
    long line = 0;
  };

  // Reads the file; its errors go to *problems. False when it has errors.
  bool load(const std::string& path, std::vector<fileproblem>* problems);
  // The same of a file's text; `path` names it in the problems.
  bool parse(std::string_view text, const std::string& path, std::vector<fileproblem>* problems);

  // The entry of a station, or nullptr.
  const entry* find(uint32_t station) const {
    auto it = stations_.find(station);
    return it == stations_.end() ? nullptr : &it->second;
  }

  // Every department named, and each department above one, by number:
  // sorted by path, so that one's sub-departments follow it; (none) first.
  const std::vector<std::string>& departments() const { return departments_; }
  // The department a department is in, or nodepartment at the top.
  uint32_t parent(uint32_t department) const { return parents_[department]; }
  // The number of a department's path, or nodepartment when not named.
  uint32_t departmentof(const std::string& path) const;
  // Whether `department` is `within` or below it.
  bool within(uint32_t department, uint32_t within) const;

  const std::unordered_map<uint32_t, entry>& stations() const { return stations_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unordered_map<uint32_t, entry> stations_;
  std::vector<std::string> departments_{"(none)"};
  std::vector<uint32_t> parents_{nodepartment};
};

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
    if (!dense_.empty()) {
      uint32_t i = station - lowest_;  // wraps for a number below the lowest
      return i < dense_.size() && dense_[i] ? &entries_[dense_[i] - 1] : nullptr;
    }
    // By halves, without branches that the numbers decide.
    const uint32_t* at = numbers_.data();
    size_t n = numbers_.size();
    while (n > 1) {
      size_t half = n / 2;
      at = at[half] <= station ? at + half : at;
      n -= half;
    }
    return n && *at == station ? &entries_[static_cast<size_t>(at - numbers_.data())] : nullptr;
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

  // The stations listed, in the order of their numbers, and their entries.
  const std::vector<uint32_t>& numbers() const { return numbers_; }
  const std::vector<entry>& entries() const { return entries_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<uint32_t> numbers_;  // sorted
  std::vector<entry> entries_;
  // When the numbers are close together (a range of extensions): for each
  // number from the lowest, its entry's index + 1, or 0.
  std::vector<uint32_t> dense_;
  uint32_t lowest_ = 0;
  std::vector<std::string> departments_{"(none)"};
  std::vector<uint32_t> parents_{nodepartment};
};

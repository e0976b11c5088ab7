// Temporary directories and whole-file reads and writes for tests.
#pragma once

#include <string>

// A fresh private directory for one test, under $TMPDIR or /tmp. The whole
// tree is removed when it goes out of scope, even parts a test locked.
class tmpdir {
 public:
  tmpdir();  // throws std::runtime_error when no directory can be made
  ~tmpdir();
  tmpdir(const tmpdir&) = delete;
  tmpdir& operator=(const tmpdir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole content of a file, byte for byte; "" when it cannot be read.
std::string readfile(const std::string& path);

// Creates or replaces a file holding exactly `data`; a failure fails the test.
void writefile(const std::string& path, const std::string& data);

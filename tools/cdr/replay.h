// The replay of raw data logs through a packer build into a scratch store:
// the logs on the packer's standard input one after another, as it read
// them (a rotation's, oldest first), validation off.
#pragma once

#include <string>

#include "cdr/options.h"

// A scratch directory with an empty "store" in it, removed with
// everything in it.
class scratchdir {
 public:
  scratchdir() = default;
  scratchdir(const scratchdir&) = delete;
  scratchdir& operator=(const scratchdir&) = delete;
  ~scratchdir();

  // Makes it under $TMPDIR (else /tmp); false with *err set when it cannot.
  bool make(std::string* err);
  const std::string& path() const { return path_; }
  std::string store() const { return path_ + "/store"; }

 private:
  std::string path_;
};

// Runs o.packer with o.packeroptions on o.raws into scratch's store; its
// standard error goes to scratch/packer.err. False with *err set when a
// log cannot be read, the packer fails or does not get every byte.
bool replay(const cdroptions& o, const scratchdir& scratch, std::string* err);

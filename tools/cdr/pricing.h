// What a call costs and who pays for it: the tariff and the station
// directory that --tariff and --directory name, applied to calls as they
// are read.
//
// An incoming call (flag 0x80) costs 0; a call whose dialled digits no rate
// takes is unrated and one with a marked duration unpriced: neither has a
// cost, and each is counted under its own name rather than as a call of 0.
// A rate applies by the call's start, as the store's zone shows it.
#pragma once

#include <optional>

#include "cdr/cdrrow.h"
#include "cdr/directory.h"
#include "cdr/options.h"
#include "cdr/reader.h"
#include "cdr/tariff.h"
#include "cdr/zone.h"

struct pricedcall {
  uint32_t destination = tariff::unrated;  // an index into the tariff's destinations()
  uint32_t billed = 0;                     // seconds, for a call priced by a rate
  money cost = 0;                          // for a call priced by a rate, or incoming

  // Whether it has a cost (0 for an incoming call).
  bool costed() const { return destination == tariff::incoming || rated(); }
  bool rated() const { return destination >= tariff::firstnamed; }
};

class pricing {
 public:
  // Reads the files the options name, if any, telling their problems on
  // standard error; false when either has errors.
  bool load(const cdroptions& o);
  // Reads the files directly (for the check command); nullptr skips one.
  bool load(const std::string* tariffpath, const std::string* directorypath,
            std::vector<fileproblem>* problems);

  bool priced() const { return tariff_.has_value(); }
  bool listed() const { return directory_.has_value(); }
  const tariff& rates() const { return *tariff_; }
  const directory& stations() const { return *directory_; }

  // Needs a tariff.
  pricedcall price(const readcall& c, tzone& zone) const { return price(c.call, c.start(), zone); }
  // The same of a call that began at `start` (an instant).
  pricedcall price(const cdrcall& k, int64_t start, tzone& zone) const;
  // The directory's entry for the call's station, or nullptr (also without
  // a directory).
  const directory::entry* who(const cdrcall& c) const {
    return directory_ ? directory_->find(partynumber(c.station())) : nullptr;
  }
  // Sets the priced columns of the call's row, as far as the files go.
  void pricerow(const readcall& c, tzone& zone, cdrrow* r) const;
  // Its department, nodepartment when none.
  uint32_t department(const cdrcall& c) const {
    const directory::entry* e = who(c);
    return e ? e->department : directory::nodepartment;
  }

 private:
  std::optional<tariff> tariff_;
  std::optional<directory> directory_;
};

// An incoming call: priced 0 whatever its length.
inline bool incomingcall(const cdrcall& c) { return c.trunkfirst(); }

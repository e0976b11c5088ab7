// The columns query adds to a call: destination, billed (seconds) and
// cost (four places) with a tariff; name and department with a directory.
// An unrated or unpriced call has neither billed time nor cost (empty, or
// null in JSON), an incoming one costs 0; a station the directory does not
// list has an empty name and department (null in JSON).
#pragma once

#include <string>
#include <vector>

#include "cdr/pricing.h"

class pricecolumns {
 public:
  // The texts of the names, quoted for CSV or JSON, are made once here.
  pricecolumns(const pricing& p, bool json);

  // ",destination,billed,cost,name,department", as far as the files go.
  std::string csvheader() const;

  // The columns at p, each after a comma (CSV) or as members after a comma
  // (JSON); returns the end. 2048 bytes are enough.
  char* put(char* p, const readcall& c, tzone& zone) const;

 private:
  char* csv(char* p, const readcall& c, tzone& zone) const;
  char* json(char* p, const readcall& c, tzone& zone) const;

  const pricing& prices_;
  bool json_;
  // As written: for CSV in quotes where needed, for JSON as strings.
  std::vector<std::string> destinations_, departments_, names_;
};

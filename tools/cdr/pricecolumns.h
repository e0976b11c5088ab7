// The columns query adds to a call: destination, billed (seconds) and
// cost (four places) with a tariff; name and department with a directory.
// An unrated or unpriced call has neither billed time nor cost (empty, or
// null in JSON), an incoming one costs 0; a station the directory does not
// list has an empty name and department.
#pragma once

#include <string>

#include "cdr/pricing.h"

// ",destination,billed,cost,name,department", as far as the files go.
std::string pricecsvheader(const pricing& p);

// The columns at p, each after a comma (CSV) or as members after a comma
// (JSON); returns the end. 2048 bytes are enough.
char* putpricecsv(char* p, const pricing& pr, const readcall& c, tzone& zone);
char* putpricejson(char* p, const pricing& pr, const readcall& c, tzone& zone);

// The query's output: one record per selected call, as CSV (RFC 4180: a
// header row, CRLF line ends) or as JSON Lines. Times are ISO 8601 with
// their UTC offset; the start is the end minus the duration (for a marked
// call, minus the marker's ticks, as the packer reckoned it).
#pragma once

#include <optional>

#include "cdr/outbuf.h"
#include "cdr/pricecolumns.h"
#include "cdr/reader.h"
#include "cdr/zone.h"

enum class exportformat { csv, json };

class exporter {
 public:
  // With `prices`, the columns of pricecolumns.h follow the call's.
  exporter(outbuf& out, tzone& zone, exportformat format, const pricing* prices = nullptr)
      : out_(out), zone_(zone), format_(format) {
    if (prices) prices_.emplace(*prices, format == exportformat::json);
  }
  void header();  // the CSV header row; nothing for JSON
  void record(const readcall& c);

 private:
  outbuf& out_;
  tzone& zone_;
  exportformat format_;
  std::optional<pricecolumns> prices_;
};

// The CSV header row, without its line end.
inline constexpr const char* csvheader =
    "end,start,duration,duration_mark,station,trunk,other_station,dialled,meter,charge,flags,"
    "trunk_first,class_bits,ambiguous";

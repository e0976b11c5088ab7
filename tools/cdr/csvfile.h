// A small reader of the CSV files people write by hand or export from a
// spreadsheet (the tariff, the station directory): records of fields
// separated by commas, one record a line (LF or CRLF), a field in double
// quotes when it holds a comma, a quote ("" inside) or a line end. A line
// that begins with '#' is a comment and a line with nothing on it is
// skipped; a UTF-8 byte order mark at the start is passed over.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct csvrecord {
  long line = 0;  // the line the record begins on, from 1
  std::vector<std::string> fields;
};

// Splits `text` into records, handing each to `each` as it is read.
// Returns nullptr, or why it cannot go on (a quote that does not close, a
// quote within a field not quoted, something after a closing quote), with
// *badline set to the line where that is.
const char* parsecsv(std::string_view text, const std::function<void(csvrecord&)>& each,
                     long* badline);
// The same into a list.
inline const char* parsecsv(std::string_view text, std::vector<csvrecord>* out, long* badline) {
  return parsecsv(text, [&](csvrecord& r) { out->push_back(std::move(r)); }, badline);
}

// The contents of a regular file of at most `limit` bytes; false with *err
// set ("not a regular file", "larger than N bytes" or the system's reason).
bool readsmallfile(const std::string& path, size_t limit, std::string* out, std::string* err);

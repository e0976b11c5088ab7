#include "database.h"

bool ispostgres(const std::string& target) {
  if (target.starts_with("postgresql://") || target.starts_with("postgres://")) return true;
  // key=value words; a path that holds '=' is written ./a=b or /x/a=b.
  return !target.starts_with("/") && !target.starts_with(".") && target.find('=') != target.npos;
}

std::unique_ptr<database> opendatabase(const std::string& target, bool create) {
  return ispostgres(target) ? openpostgres(target) : opensqlite(target, create);
}

std::array<int64_t, positionfields> positionvalues(const loadedfile& f) {
  return {f.hour,
          f.base,
          f.bytes,
          f.lines,
          static_cast<int64_t>(f.hash),
          static_cast<int64_t>(f.head),
          static_cast<int64_t>(f.dev),
          static_cast<int64_t>(f.ino),
          f.born,
          f.size,
          f.mtime,
          f.split};
}

loadedfile positionof(std::string_view file, const std::array<int64_t, positionfields>& v) {
  loadedfile f;
  f.file = file;
  f.hour = v[0];
  f.base = v[1];
  f.bytes = v[2];
  f.lines = v[3];
  f.hash = static_cast<uint64_t>(v[4]);
  f.head = static_cast<uint64_t>(v[5]);
  f.dev = static_cast<uint64_t>(v[6]);
  f.ino = static_cast<uint64_t>(v[7]);
  f.born = v[8];
  f.size = v[9];
  f.mtime = v[10];
  f.split = v[11];
  return f;
}

std::string parameters(char mark, int first, int n) {
  std::string s;
  for (int i = first; i < first + n; ++i) s += (s.empty() ? "" : ", ") + (mark + std::to_string(i));
  return s;
}

std::string rowvalues(const std::string& prefix) {
  std::string s = prefix + "line_offset";
  std::string_view rest = rowcolumns;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view name = rest.substr(0, comma);
    while (name.starts_with(' ')) name.remove_prefix(1);
    s += ", " + prefix + std::string(name);
    rest = comma == rest.npos ? std::string_view() : rest.substr(comma + 1);
  }
  return s;
}

std::string callsview(const std::string& join) {
  return "CREATE VIEW calls AS SELECT f.site, f.file, " + rowvalues("c.") +
         " FROM pktav_calls c JOIN pktav_files f ON " + join + ";";
}

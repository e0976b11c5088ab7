#include "dbaudit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <cstdlib>
#include <vector>

#include "cdr/database.h"
#include "cdr/diag.h"
#include "cdr/positions.h"
#include "cdr/reader.h"
#include "cdr/sinks.h"

namespace {

// A row read back, with its own copies of the texts (in a deque, which
// never moves what it holds).
struct heldrow {
  cdrrow row;
  std::string texts;  // mark, station, trunk, other station, dialled, charge, one after another
  bool matched = false;

  explicit heldrow(const cdrrow& r) : row(r) {
    std::string_view* fields[] = {&row.mark,         &row.station, &row.trunk,
                                  &row.otherstation, &row.dialled, &row.charge};
    for (std::string_view* f : fields) texts += *f;
    size_t at = 0;
    for (std::string_view* f : fields) {
      *f = std::string_view(texts).substr(at, f->size());
      at += f->size();
    }
  }
  heldrow(const heldrow&) = delete;
  heldrow& operator=(const heldrow&) = delete;
};
using heldrows = std::deque<heldrow>;

std::string rowtext(cdrrow r, tzone& zone) {
  placetimes(&r, zone);
  char buf[512];
  char* end = putcsv(buf, r);
  return std::string(buf, end);
}

class dbsink : public callsink {
 public:
  dbsink(callreader& reader, tzone& zone, findings& found, const std::string& rel,
         heldrows& rows, int64_t base, int64_t bytes)
      : reader_(reader), zone_(zone), found_(found), rel_(rel), rows_(rows), base_(base),
        bytes_(bytes) {}

  void call(const readcall& c) override {
    int64_t offset = reader_.current().offset;
    cdrrow mine = rowof(c, zone_, rel_, base_ + offset);
    auto it = std::lower_bound(rows_.begin(), rows_.end(), mine.offset,
                               [](const heldrow& h, int64_t o) { return h.row.offset < o; });
    const std::string& path = c.file->path;
    if (it == rows_.end() || it->row.offset != mine.offset) {
      if (offset < bytes_)
        found_.add("missing", path, c.line, "a call the database lacks", c.text);
      else
        found_.add("unloaded", path, c.line, "a call not loaded yet", c.text);
      return;
    }
    it->matched = true;
    if (!it->row.samecall(mine))
      found_.add("differs", path, c.line,
                 "the database holds another call in its place: " + rowtext(it->row, zone_),
                 c.text);
  }
  // The store's own checks name them.
  void bad(const hourfile&, long, std::string_view, const char*) override {}
  void unreadable(const std::string&, int) override {}
  void stray(const std::string&, const char*) override {}

 private:
  callreader& reader_;
  tzone& zone_;
  findings& found_;
  const std::string& rel_;
  heldrows& rows_;
  int64_t base_, bytes_;
};

}  // namespace

std::string foldername(const std::string& root) {
  char* real = realpath(root.c_str(), nullptr);
  std::string path = real ? real : root;
  free(real);
  size_t slash = path.find_last_of('/');
  return slash == path.npos ? path : path.substr(slash + 1);
}

void reconciledb(const cdroptions& o, tzone& zone, findings& found) {
  std::string root = o.inputs.front();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string site = o.site.empty() ? foldername(root) : o.site;
  std::unique_ptr<database> db = opendatabase(o.db, false);
  db->prepare(false);
  selection sel = makeselection(o, zone);
  hourkey lo = sel.firstfile(zone, 0), hi = sel.lastfile(zone, 0);
  positions known(*db, site);
  callreader reader(zone, o.strictdst);
  walkstore(
      root, lo, hi,
      [&](const hourfile& f) {
        if (f.key.hour < 0) return;
        std::string rel = f.path.substr(root.size() + 1);
        const loadedfile* pos = known.find(rel, hournumber(f.key));
        int64_t base = pos ? pos->base : 0, bytes = pos ? pos->bytes : 0;
        heldrows rows;
        long earlier = 0;
        db->rows(site, rel, [&](const cdrrow& r) {
          if (r.offset < base)
            ++earlier;
          else
            rows.emplace_back(r);
        });
        dbsink sink(reader, zone, found, rel, rows, base, bytes);
        reader.readfile(f, sink);
        for (const heldrow& h : rows)
          if (!h.matched)
            found.add("extra", f.path, 0,
                      "a row at offset " + std::to_string(h.row.offset - base) +
                          " where the store holds no call: " + rowtext(h.row, zone));
        if (earlier)
          warnx("%s: %ld rows are those of an earlier file at this path, which the packer made "
                "again; the store no longer holds them",
                f.path.c_str(), earlier);
      },
      [](const std::string&, int) {});
  // Positions of files no longer in the store.
  std::vector<loadedfile> gone;
  db->positions(site, hournumber(lo), hournumber(hi), [&](const loadedfile& f) {
    struct stat st;
    if (lstat((root + "/" + f.file).c_str(), &st) != 0 && errno == ENOENT) gone.push_back(f);
  });
  for (const loadedfile& f : gone) {
    long n = 0;
    db->rows(site, f.file, [&](const cdrrow&) { ++n; });
    if (n)
      found.add("gone", root + "/" + f.file, 0,
                std::to_string(n) + " rows of a file the store no longer holds");
  }
}

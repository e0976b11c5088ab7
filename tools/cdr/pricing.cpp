#include "pricing.h"

bool pricing::load(const std::string* tariffpath, const std::string* directorypath,
                   std::vector<fileproblem>* problems) {
  bool good = true;
  if (tariffpath) {
    tariff_.emplace();
    good = tariff_->load(*tariffpath, problems) && good;
  }
  if (directorypath) {
    directory_.emplace();
    good = directory_->load(*directorypath, problems) && good;
  }
  return good;
}

bool pricing::load(const cdroptions& o) {
  std::vector<fileproblem> problems;
  bool good = load(o.tariff.empty() ? nullptr : &o.tariff,
                   o.directory.empty() ? nullptr : &o.directory, &problems);
  showproblems(problems);
  return good;
}

void pricing::pricerow(const readcall& c, tzone& zone, cdrrow* r) const {
  if (priced()) {
    pricedcall pc = price(c, zone);
    r->destination = tariff_->destinations()[pc.destination];
    r->billed = pc.rated() ? int64_t{pc.billed} : -1;
    r->cost = pc.costed() ? pc.cost : -1;
  }
  if (listed()) {
    const directory::entry* e = who(c.call);
    r->name = e ? std::string_view(e->name) : std::string_view();
    r->department = e && e->department != directory::nodepartment
                        ? std::string_view(directory_->departments()[e->department])
                        : std::string_view();
  }
}

pricedcall pricing::price(const cdrcall& k, int64_t start, tzone& zone) const {
  pricedcall p;
  if (incomingcall(k)) {
    p.destination = tariff::incoming;
    return p;
  }
  if (k.marked()) {
    p.destination = tariff::unpriced;
    return p;
  }
  const rate* r = tariff_->find(k.dialled, momentof(start + zone.offset(start)));
  if (!r) return p;  // unrated
  uint32_t seconds = k.seconds();
  p.destination = r->destination;
  p.billed = billedseconds(seconds, r->first, r->step);
  p.cost = callcost(*r, seconds, p.billed, k.meter);
  return p;
}

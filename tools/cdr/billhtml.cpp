// The bills as one page to print: each bill a section that begins a new
// sheet, its calls in a table whose head is repeated on every sheet, the
// subtotals and the total after them. Inline style only, no script, well-
// formed XML, as the report's page.
#include <ostream>

#include "cdr/billout.h"

namespace {

const char* style =
    "body{font-family:sans-serif;margin:2em;color:#1b1f24;background:#fff;font-size:13px}"
    "h1{font-size:1.3em;margin-bottom:.3em}h2{font-size:1.05em;margin-top:1.5em}"
    "table{border-collapse:collapse;margin-top:.5em}"
    "th,td{padding:2px 10px 2px 0;text-align:left;vertical-align:top}"
    "th{border-bottom:1px solid #8c959f}td.n,th.n{text-align:right}"
    "tr.total td{border-top:1px solid #8c959f;font-weight:bold}"
    ".about th{border:none;color:#57606a;font-weight:normal}"
    "section.bill{margin-bottom:3em}"
    "@media print{body{margin:0}section.bill{margin:0}section.bill+section.bill{break-before:page}"
    "thead{display:table-header-group}tr{break-inside:avoid}}";

std::string esc(const std::string& s) { return htmlescape(s); }

void about(std::ostream& o, const billbook& book) {
  const reportinfo& info = book.info;
  std::string period = info.lastday < info.firstday
                           ? std::string("no calls")
                           : daytext(info.firstday) + " to " + daytext(info.lastday);
  o << "<table class=\"about\">\n"
    << "<tr><th>Period</th><td>" << esc(period) << ", times in " << esc(info.zone)
    << "</td></tr>\n"
    << "<tr><th>Tariff</th><td>" << esc(info.prices->rates().path()) << "</td></tr>\n"
    << "<tr><th>Calls from</th><td>" << esc(info.stores) << "</td></tr>\n</table>\n";
}

void sumrow(std::ostream& o, const std::string& cells, const billsum& s, bool costed,
            const char* cls = nullptr) {
  o << "<tr" << (cls ? std::string(" class=\"") + cls + "\"" : "") << ">" << cells
    << "<td class=\"n\">" << s.calls << "</td><td class=\"n\">" << hms(s.seconds)
    << "</td><td class=\"n\">" << hms(s.billed) << "</td><td class=\"n\">"
    << (costed ? moneytext(s.cost, 2) : "-") << "</td></tr>\n";
}

const char* sumhead =
    "<th class=\"n\">Calls</th><th class=\"n\">Duration</th><th class=\"n\">Billed</th>"
    "<th class=\"n\">Cost</th></tr></thead>\n<tbody>\n";

void onebill(std::ostream& o, const billbook& book, const bill& b) {
  o << "<section class=\"bill\">\n<h1>Bill of " << esc(b.who) << "</h1>\n";
  about(o, book);
  o << "<h2>Calls</h2>\n<table>\n<thead><tr><th>Start</th><th class=\"n\">Station</th>"
    << "<th>Number dialled</th><th>Destination</th><th class=\"n\">Duration</th>"
    << "<th class=\"n\">Billed</th><th class=\"n\">Cost</th></tr></thead>\n<tbody>\n";
  for (uint32_t i : b.calls) {
    const billcall& c = book.calls[i];
    o << "<tr><td>" << starttext(c) << "</td><td class=\"n\">" << c.station << "</td><td>"
      << c.number() << "</td><td>" << esc(book.destinationof(c.destination))
      << "</td><td class=\"n\">" << durationtext(c) << "</td><td class=\"n\">" << billedtext(c)
      << "</td><td class=\"n\">" << costtext(c.destination, c.cost) << "</td></tr>\n";
  }
  o << "</tbody>\n</table>\n";
  o << "<h2>Per station</h2>\n<table>\n<thead><tr><th>Station</th><th>Name</th>" << sumhead;
  for (const auto& [n, s] : book.perstation(b))
    sumrow(o, "<td>" + std::to_string(n) + "</td><td>" + esc(book.nameof(n)) + "</td>", s, true);
  o << "</tbody>\n</table>\n";
  o << "<h2>Per destination</h2>\n<table>\n<thead><tr><th>Destination</th>" << sumhead;
  for (const auto& [d, s] : book.perdestination(b))
    sumrow(o, "<td>" + esc(book.destinationof(d)) + "</td>", s,
           d != tariff::unrated && d != tariff::unpriced);
  sumrow(o, "<td>Total</td>", book.total(b), true, "total");
  o << "</tbody>\n</table>\n";
  if (b.incoming) o << "<p>Incoming calls, not billed: " << b.incoming << "</p>\n";
  o << "</section>\n";
}

}  // namespace

void writebillhtml(const billbook& book, std::ostream& o) {
  std::string title = book.bills.size() == 1 ? "Bill of " + book.bills.front().who : "Bills";
  o << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>"
    << esc(title) << "</title>\n<style>" << style << "</style>\n</head>\n<body>\n";
  for (const bill& b : book.bills) onebill(o, book, b);
  if (book.bills.empty()) o << "<p>No bills.</p>\n";
  o << "</body>\n</html>\n";
}

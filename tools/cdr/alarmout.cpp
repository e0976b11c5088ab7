#include "alarmout.h"

#include "cdr/diag.h"
#include "cdr/findings.h"

namespace {

// The member, or null.
void member(outbuf& out, const char* name, std::string_view v) {
  out.put(",\"");
  out.put(name);
  out.put("\":");
  if (v.empty())
    out.put("null");
  else
    out.put(jsonstring(v));
}

}  // namespace

const char* statename(alarmstate s) { return s == alarmstate::raised ? "raised" : "cleared"; }

void alarmwriter::take(const watchalarm& a) {
  int off = zone_.offset(a.time);
  if (json_) out_.put("{\"time\":\"");
  out_.commit(isotime(out_.room(32), wallof(a.time + off), off));
  json_ ? json(a) : text(a);
}

void alarmwriter::text(const watchalarm& a) {
  out_.put(' ');
  out_.put(a.rule->name);
  out_.put(' ');
  out_.put(kindname(a.rule->kind));
  out_.put(' ');
  out_.put(statename(a.state));
  const char* words[] = {" station ", " trunk ", " dialled "};
  const std::string_view values[] = {a.station, a.trunk, a.dialled};
  for (int i = 0; i < 3; ++i)
    if (!values[i].empty()) {
      out_.put(words[i]);
      out_.put(values[i]);
    }
  out_.put(": ");
  out_.put(a.detail);
  if (a.call) {
    out_.put(": ");
    out_.put(a.call->file->path);
    out_.put(':');
    out_.putnum(static_cast<uint64_t>(a.call->line));
    out_.put(": \"");
    out_.put(printable(a.call->text));
    out_.put('"');
  }
  out_.put('\n');
}

void alarmwriter::json(const watchalarm& a) {
  out_.put("\",\"rule\":");
  out_.put(jsonstring(a.rule->name));
  out_.put(",\"kind\":\"");
  out_.put(kindname(a.rule->kind));
  out_.put("\",\"state\":\"");
  out_.put(statename(a.state));
  out_.put("\"");
  member(out_, "station", a.station);
  member(out_, "trunk", a.trunk);
  member(out_, "dialled", a.dialled);
  member(out_, "detail", a.detail);
  if (a.call) {
    member(out_, "file", a.call->file->path);
    out_.put(",\"lineno\":");
    out_.putnum(static_cast<uint64_t>(a.call->line));
    member(out_, "line", a.call->text);
  } else {
    out_.put(",\"file\":null,\"lineno\":null,\"line\":null");
  }
  out_.put("}\n");
}

#include "tools/common/exposition.h"

#include <charconv>
#include <cmath>

namespace {

// A label value escapes the backslash, the double quote and the line feed;
// help text the backslash and the line feed.
std::string escaped(const std::string& text, bool quotes) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || (quotes && c == '"'))
      out.append(1, '\\').append(1, c);
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void addlabels(std::string* out, const metriclabels& labels, bool* first) {
  for (const auto& [name, value] : labels) {
    if (value.empty()) continue;
    out->append(*first ? "{" : ",").append(name).append("=\"");
    out->append(escaped(value, true)).append("\"");
    *first = false;
  }
}

}  // namespace

exposition::exposition(metriclabels common) : common_(std::move(common)) {}

void exposition::metric(const std::string& name, const char* type, const std::string& help) {
  name_ = name;
  text_.append("# HELP ").append(name).append(" ").append(escaped(help, false)).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void exposition::sample(uint64_t value, const metriclabels& labels) {
  line(std::to_string(value), labels);
}

// The shortest digits that read back as the same number; NaN, +Inf and
// -Inf as Go spells them.
void exposition::sample(double value, const metriclabels& labels) {
  if (std::isnan(value)) return line("NaN", labels);
  if (std::isinf(value)) return line(value > 0 ? "+Inf" : "-Inf", labels);
  char text[32];
  auto [end, err] = std::to_chars(text, text + sizeof text, value);
  line(std::string(text, end), labels);
}

void exposition::line(const std::string& value, const metriclabels& labels) {
  text_ += name_;
  bool first = true;
  addlabels(&text_, common_, &first);
  addlabels(&text_, labels, &first);
  if (!first) text_ += "}";
  text_.append(" ").append(value).append("\n");
}

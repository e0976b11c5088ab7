#include "manopts.h"

#include <cctype>
#include <regex>
#include <sstream>

namespace {

bool alldigits(const std::string& s) {
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool startswith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::set<std::string> usageoptions(const std::string& text) {
  static const std::regex option(R"((?:^|[\s\[(|,])(--?)([A-Za-z0-9][A-Za-z0-9-]*))");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    const std::string dashes = (*it)[1], name = (*it)[2];
    if (dashes == "--") {
      found.insert("--" + name);
    } else if (!alldigits(name) && name.find('-') == std::string::npos) {
      for (char c : name) found.insert(std::string("-") + c);
    }
  }
  return found;
}

std::string plainroff(const std::string& line) {
  std::string text = line;
  if (startswith(text, ".")) {
    // The macro name goes; its arguments stay.
    size_t blank = text.find(' ');
    text = blank == std::string::npos ? "" : text.substr(blank + 1);
  }
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') continue;
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    char e = text[++i];
    if (e == 'f') {
      // \fB, \f(XX or \f[name]
      if (i + 1 < text.size() && text[i + 1] == '(') {
        i += 3;
      } else if (i + 1 < text.size() && text[i + 1] == '[') {
        i = text.find(']', i);
        if (i == std::string::npos) i = text.size();
      } else {
        ++i;
      }
    } else if (e == '-') {
      out += '-';
    } else if (e == '~' || e == ' ') {
      out += ' ';
    } else if (e == 'e') {
      out += '\\';
    } else if (e == '(') {
      i += 2;  // a named character such as \(aq stands for no option
    }
    // \& and \% are dropped.
  }
  return out;
}

std::set<std::string> documentedoptions(const std::string& page) {
  std::set<std::string> found;
  std::istringstream in(page);
  bool tagnext = false;
  for (std::string line; std::getline(in, line);) {
    if (startswith(line, ".\\\"")) continue;  // a comment
    std::string tag;
    if (tagnext) {
      tag = line;
      tagnext = false;
    } else if (line == ".TP" || startswith(line, ".TP ") || line == ".TQ") {
      tagnext = true;
    } else if (startswith(line, ".IP ")) {
      tag = line;
    }
    if (!tag.empty()) {
      std::set<std::string> named = usageoptions(plainroff(tag));
      found.insert(named.begin(), named.end());
    }
  }
  return found;
}

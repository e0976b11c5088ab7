#include "inputs.h"

#include <sys/stat.h>

#include <cerrno>

void forinputs(const std::vector<std::string>& inputs, const hourkey& lo, const hourkey& hi,
               const std::function<void(const hourfile&)>& visit,
               const std::function<void(const std::string&, int)>& onerror) {
  for (const std::string& in : inputs) {
    struct stat st;
    if (stat(in.c_str(), &st) != 0) {
      onerror(in, errno);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      std::string root = in;
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      walkstore(root, lo, hi, visit, onerror);
      continue;
    }
    hourfile f;
    f.path = in;
    f.where = placement::given;
    size_t slash = in.rfind('/');
    if (parsehourname(slash == in.npos ? in : in.substr(slash + 1), &f.key) &&
        (f.key < lo || f.key > hi))
      continue;
    visit(f);
  }
}

std::string joinnames(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& name : names) s += (s.empty() ? "" : ", ") + name;
  return s;
}

#include "inputs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

void forinputs(const std::vector<std::string>& inputs, const hourkey& lo, const hourkey& hi,
               const std::function<void(const hourfile&)>& visit, callsink& sink) {
  for (const std::string& in : inputs) {
    struct stat st;
    if (stat(in.c_str(), &st) != 0) {
      sink.badoperand(in, strerror(errno));
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      std::string root = in;
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      walkstore(
          root, lo, hi, visit,
          [&](const std::string& path, int err) {
            if (path == root)
              sink.badoperand(path, strerror(err));
            else
              sink.unreadable(path, err);
          },
          [&](const std::string& path, const char* what) { sink.stray(path, what); });
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

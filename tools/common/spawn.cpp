#include "tools/common/spawn.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// 0 for an executable regular file, else the error a spawn would get.
int runnable(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) return EACCES;
  return 0;
}

}  // namespace

int findprogram(const std::string& name, std::string* path) {
  if (name.find('/') != std::string::npos) {
    *path = name;
    return runnable(name);
  }
  const char* env = getenv("PATH");
  std::string dirs = env ? env : "/bin:/usr/bin";
  int err = ENOENT;
  for (size_t at = 0; at <= dirs.size();) {
    size_t colon = dirs.find(':', at);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(at, colon - at);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    int e = runnable(candidate);
    if (e == 0) {
      *path = candidate;
      return 0;
    }
    if (e == EACCES) err = EACCES;
    at = colon + 1;
  }
  return err;
}

pid_t spawn(const spawnspec& s, int* err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i)
    if (s.fds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, s.fds[i], i);
  if (!s.dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, s.dir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  short flags = POSIX_SPAWN_SETSIGDEF;
  if (s.newgroup) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  if (s.mask) {
    posix_spawnattr_setsigmask(&attr, s.mask);
    flags |= POSIX_SPAWN_SETSIGMASK;
  }
  posix_spawnattr_setflags(&attr, flags);

  std::vector<std::string> copy = s.argv;
  std::vector<char*> args;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  // Our environment but for the names given, then those.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool over = false;
    for (const std::string& x : s.env)
      over = over || (x.size() > name.size() && x.compare(0, name.size(), name) == 0 &&
                      x[name.size()] == '=');
    if (!over) env.emplace_back(entry);
  }
  env.insert(env.end(), s.env.begin(), s.env.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  *err = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return *err == 0 ? pid : -1;
}

std::string describestatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ended";
}

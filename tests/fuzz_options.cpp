// libFuzzer entry for the command line of the packer: the input, split at
// NUL bytes, is the argument vector; what the options set is then shown
// by the settings dump, as -x does. Run it with -close_fd_mask=2: the dump
// and the usage text go to standard error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packer/options.h"
#include "packer/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words{"pktav"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  resetpacker();
  if (parseoptions(static_cast<int>(words.size()), argv.data()))
    dumpsettings();
  else
    usage();
  return 0;
}

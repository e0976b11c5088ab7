// Hostile input: damaged records and random byte streams must neither
// crash nor read outside the buffer (run under the sanitizers in CI).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>

#include "pabx/modules.h"
#include "packer/cdrline.h"
#include "packer/driver.h"
#include "packer/settings.h"
#include "packer/sigwait.h"
#include "support/md110rec.h"
#include "support/neaxrec.h"
#include "support/packerfix.h"
#include "support/tmpdir.h"

namespace {

class Hostile : public packertest {};

// Characters that steer the decoders into their branches.
char pick(std::mt19937& rng) {
  static const char interesting[] = "0123456789 KAEBN\x00\x01\x03\x0a\xff-+";
  std::uniform_int_distribution<int> any(0, 255), which(0, sizeof interesting - 2), coin(0, 1);
  return coin(rng) ? interesting[which(rng)] : static_cast<char>(any(rng));
}

void checkline(const pkrecord& pk) {
  char line[cdrlinemax];
  formcall(line, &pk);
  std::string l = line;
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l.front(), ':');
  EXPECT_EQ(l.back(), '\n');
  EXPECT_EQ(std::count(l.begin(), l.end(), '|'), 7) << l;
  EXPECT_LE(l.size(), 82u);
}

void runmodule(const pabxmodule& mod, const std::string& good, int seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pos(0, static_cast<int>(good.size()) - 2), count(1, 12),
      last(mod.frame.petx, 255);
  for (int round = 0; round < 20000; ++round) {
    std::string rec = good;
    for (int n = count(rng); n > 0; --n) rec[pos(rng)] = pick(rng);
    placerecord(rec, last(rng));
    if (round % 7 == 0)
      for (int i = 0; i < inpptr; ++i) rawbuf[i] = static_cast<uint8_t>(pick(rng));
    rawbuf[inpptr] = mod.frame.etx;
    if (mod.packrec(&pkcall)) checkline(pkcall);
  }
  pkrecord pk;
  while (mod.dequeue(&pk)) checkline(pk);
}

TEST_F(Hostile, DamagedNeaxRecordsDecodeSafely) {
  sector0[maskparity] = 4;
  neaxfields e;
  e.kind = 'E';
  e.cls = '2';
  for (uint8_t c : {0, 1}) {
    cap = c;
    runmodule(deviroz7e_module, neaxrecord(neaxfields{}), 11 + c);
    runmodule(diziziv7_module, neaxrecord(e), 21 + c);
  }
}

TEST_F(Hostile, DamagedMd110RecordsDecodeSafely) {
  md110fields secondonly;
  secondonly.trunk1 = "";
  secondonly.trunk2 = "U00-00-34";
  secondonly.cond = "NX ";
  for (uint8_t c : {0, 1}) {
    cap = c;
    sector0[maskparity] = static_cast<uint8_t>(4 * c);
    runmodule(md11bc12_module, md110record(md110fields{}), 21 + c);
    runmodule(md11bc12_module, md110record(secondonly), 23 + c);
  }
}

TEST_F(Hostile, RandomStreamsThroughFramerDecoderAndStore) {
  tmpdir dir;
  std::mt19937 rng(7);
  std::string stream;
  neaxfields f;
  std::uniform_int_distribution<int> len(0, 400), cut(0, 131);
  for (int i = 0; i < 400; ++i) {
    std::string noise;
    for (int n = len(rng); n > 0; --n) noise += pick(rng);
    std::string rec = neaxrecord(f);
    stream += noise + (i % 3 ? rec : rec.substr(0, cut(rng)));
  }
  writefile(dir.file("in"), stream);
  std::string out = dir.file("out");
  EXPECT_EXIT(
      {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        dtvalidate = 0;
        installsignals();
        setsignalservice(servicesignals);
        pktav(dir.file("in").c_str());
      },
      testing::ExitedWithCode(0), "my_exit: errcode = 0");
  std::string lines = readfile(out);
  EXPECT_GT(std::count(lines.begin(), lines.end(), '\n'), 100);
}

}  // namespace

// Every malformed setup run as a whole install, in both worlds: exit code, boxes, deciding log
// lines. A damaged container may cost the run, never the machine: nothing is unpacked anywhere
// but the private temporary folder, that folder is gone afterwards, nothing is started from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "tests/corpus/malformed_setups.h"
#include "tests/harness/install_runner.h"

namespace corpus {
// A case is named by its name in test reports, not by its bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
}  // namespace corpus

namespace {

using corpus::Case;
using corpus::Stage;
using e2e::Lines;
using e2e::operator+;

std::string Joined(const Lines& lines) {
  std::string all;
  for (const std::string& l : lines) all += "  " + l + "\n";
  return all;
}

class CorpusTest : public ::testing::TestWithParam<Case> {};

TEST_P(CorpusTest, RunsAsAWholeInstall) {
  const Case& c = GetParam();
  e2e::Scenario scenario;  // the setup is the case's own
  scenario.root = c.stage == Stage::kPortable ? "{R}" : nullptr;
  e2e::Installation run(scenario);
  ASSERT_EQ(run.Problem(), "");
  corpus::Parts parts;
  std::string error, setup;
  ASSERT_TRUE(e2e::GetSetupParts(&parts, &error) && c.make(parts, &setup, &error)) << error;
  run.UseSetup(setup);
  ASSERT_EQ(run.Problem(), "");

  e2e::Drive before = e2e::Snapshot("C:");
  e2e::Observed seen = run.Install();
  e2e::Drive after = e2e::Snapshot("C:");
  ASSERT_EQ(run.Problem(), "");

  std::string log = Joined(seen.log);
  SCOPED_TRACE(std::string(c.name) + ": " + c.damage + "\nlog:\n" + log);
  EXPECT_EQ(seen.exitCode, (DWORD)c.exitCode);
  Lines decisive = run.Fill(c.decisive);
  EXPECT_TRUE(std::search(seen.log.begin(), seen.log.end(), decisive.begin(), decisive.end()) !=
              seen.log.end())
      << "expected, one after the other:\n" + Joined(decisive);
  EXPECT_EQ(seen.boxes, run.Fill(c.boxes));
  EXPECT_EQ(seen.files, run.Fill(c.files));
  EXPECT_FALSE(seen.tempExists) << "the private temporary folder is removed";

  // Where the run may leave anything: its log, and once it installs, its files and the starts.
  bool ran = c.stage == Stage::kRunGoesOn || c.stage == Stage::kPortable;
  EXPECT_EQ(seen.configStarts.size(), ran ? 1u : 0u) << "the configuration program's starts";
  EXPECT_EQ(seen.productStarts.size(), c.stage == Stage::kRunGoesOn ? 1u : 0u);
  EXPECT_TRUE(ran || seen.values.empty()) << "no registry value is touched";
  EXPECT_TRUE(c.stage != Stage::kBeforeTemp || log.find("CreateTempFolder") == log.npos)
      << "no folder is made";
  EXPECT_TRUE(c.stage != Stage::kRunGoesOn ||
              (!seen.log.empty() && seen.log.back() == "[0] RunSfx() - END "));
  Lines allowed = {"C:\\_pw"};
  if (ran) allowed = allowed + run.Fill(Lines{"{I}", "{D}\\records"});
  if (c.stage == Stage::kPortable) allowed.push_back(run.Fill("{R}"));
  EXPECT_EQ(e2e::Changes(before, after, allowed), Lines())
      << "changed outside where the run may write";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(corpus::Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

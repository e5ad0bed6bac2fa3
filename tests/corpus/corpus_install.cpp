/*
 * Every setup of the malformed-setup corpus run as a whole install, in both worlds: the exit
 * code, the message boxes and the deciding log lines, and what the run did to the machine. A
 * damaged container may cost the run, never the machine: nothing is unpacked anywhere but the
 * private temporary folder, that folder is gone afterwards, and nothing is started from it.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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
using corpus::Lines;
using corpus::Stage;

const char kLogFolder[] = "C:\\_pw";

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every entry under folder: files with their size and last write time, folders by name only
// (their times change whenever an entry comes and goes beneath them).
using Tree = std::map<std::string, std::string>;

// Folders of the drive that the walk leaves out: the system's own, which Wine keeps up to date
// while programs run, and the users', whose folders Wine links into the host's home. A name
// that left the temporary folder would land beside it or above it, never in there.
const char* const kNotWalked[] = {"C:\\windows", "C:\\users"};

bool NotWalked(const std::string& path) {
  for (const char* skip : kNotWalked)
    if (lstrcmpiA(path.c_str(), skip) == 0) return true;
  return false;
}

void Walk(const std::string& folder, Tree* tree) {
  WIN32_FIND_DATAA found;
  HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (walk == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = folder + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[path] = "folder";
      if (!NotWalked(path)) Walk(path, tree);
    } else {
      (*tree)[path] = std::to_string(found.nFileSizeLow) + " bytes, written " +
                      std::to_string(found.ftLastWriteTime.dwHighDateTime) + ":" +
                      std::to_string(found.ftLastWriteTime.dwLowDateTime);
    }
  } while (FindNextFileA(walk, &found));
  FindClose(walk);
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = (char)(c - 32);
  return s;
}

// The path is one of the folders or lies in one (paths compare without regard to case).
bool Within(const std::string& path, const Lines& folders) {
  for (const std::string& f : folders) {
    std::string p = Upper(path), u = Upper(f);
    if (p == u || p.rfind(u + "\\", 0) == 0) return true;
  }
  return false;
}

// What changed between two walks outside the allowed folders: "+path", "-path", "~path".
Lines Changes(const Tree& before, const Tree& after, const Lines& allowed) {
  Lines changes;
  for (const auto& entry : after) {
    if (Within(entry.first, allowed)) continue;
    auto old = before.find(entry.first);
    if (old == before.end())
      changes.push_back("+" + entry.first);
    else if (old->second != entry.second)
      changes.push_back("~" + entry.first + " (" + old->second + " -> " + entry.second + ")");
  }
  for (const auto& entry : before)
    if (!Within(entry.first, allowed) && after.find(entry.first) == after.end())
      changes.push_back("-" + entry.first);
  return changes;
}

// Whether want's lines appear in log one right after the other.
bool Contains(const Lines& log, const Lines& want) {
  return std::search(log.begin(), log.end(), want.begin(), want.end()) != log.end();
}

std::string Joined(const Lines& lines) {
  std::string all;
  for (const std::string& l : lines) all += "  " + l + "\n";
  return all;
}

class CorpusTest : public ::testing::TestWithParam<Case> {};

TEST_P(CorpusTest, RunsAsAWholeInstall) {
  const Case& c = GetParam();
  const e2e::Choices choices = {"{I}", "1", nullptr, nullptr, c.portable ? "{R}" : nullptr};
  const e2e::Machine clean = {false, nullptr, nullptr, false, false, IDNO, false, false, nullptr};
  e2e::Installation run(e2e::kAll | (c.portable ? (unsigned)e2e::kPortable : 0u), choices, clean);
  ASSERT_EQ(run.Problem(), "");

  e2e::SetupParts world;
  std::string error, setup;
  ASSERT_TRUE(e2e::GetSetupParts(&world, &error)) << error;
  corpus::Parts parts = {world.stub, world.pondwick, world.langs, world.portable, world.affid};
  ASSERT_TRUE(c.make(parts, &setup, &error)) << error;
  run.UseSetup(setup);
  ASSERT_EQ(run.Problem(), "");

  Tree before, after;
  Walk("C:", &before);
  e2e::Observed seen = run.Install("");
  Walk("C:", &after);
  ASSERT_EQ(run.Problem(), "");

  SCOPED_TRACE(std::string(c.name) + ": " + c.damage + "\nlog:\n" + Joined(seen.log));
  EXPECT_EQ(seen.exitCode, (DWORD)c.exitCode);
  Lines decisive;
  for (const std::string& l : c.decisive) decisive.push_back(run.Fill(l));
  EXPECT_TRUE(Contains(seen.log, decisive)) << "expected, one after the other:\n"
                                            << Joined(decisive);
  Lines boxes;
  for (const std::string& b : c.boxes) boxes.push_back(run.Fill(b));
  EXPECT_EQ(seen.boxes, boxes);
  EXPECT_EQ(seen.files, run.Fill(c.files));
  EXPECT_FALSE(seen.tempExists) << "the private temporary folder is removed";

  // Where the run may leave anything: its log, and once it installs, what it installs and
  // what the product's programs record of their starts.
  Lines allowed = {kLogFolder};
  switch (c.stage) {
    case Stage::kBeforeTemp:
      for (const std::string& line : seen.log)
        EXPECT_EQ(line.find("CreateTempFolder"), std::string::npos) << "no folder is made";
      [[fallthrough]];
    case Stage::kUnpacking:
      EXPECT_EQ(seen.values, Lines()) << "no registry value is touched";
      EXPECT_EQ(seen.configStarts.size(), 0u) << "the configuration program is not started";
      EXPECT_EQ(seen.productStarts.size(), 0u);
      break;
    case Stage::kRunGoesOn:
      EXPECT_EQ(seen.configStarts.size(), 1u);
      EXPECT_EQ(seen.productStarts.size(), 1u) << "the product starts";
      EXPECT_EQ(seen.log.empty() ? "" : seen.log.back(), "[0] RunSfx() - END ");
      allowed = allowed + Lines{run.Fill("{I}"), run.Fill("{D}\\records")};
      break;
    case Stage::kPortable:
      EXPECT_EQ(seen.configStarts.size(), 1u);
      EXPECT_EQ(seen.productStarts.size(), 0u) << "the product is not started";
      allowed = allowed + Lines{run.Fill("{I}"), run.Fill("{R}"), run.Fill("{D}\\records")};
      break;
  }
  EXPECT_EQ(Changes(before, after, allowed), Lines()) << "changed outside where the run may write";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(corpus::Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

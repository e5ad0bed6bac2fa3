/* Comparing two setups block by block and file by file; see setup_diff.h. */
#include "tools/pwpack/setup_diff.h"

#include <cstdio>
#include <map>
#include <vector>

#include "tools/pwpack/blocks.h"
#include "tools/pwpack/pack_writer.h"
#include "tools/pwpack/stream_check.h"

namespace pwpack {

namespace {

std::string SizeAndCrc(uint64_t size, uint32_t crc) {
  char text[64];
  std::snprintf(text, sizeof text, "%llu bytes, CRC-32 %08X", (unsigned long long)size,
                (unsigned)crc);
  return text;
}

struct BlockFacts {
  std::string kind, facts;  // "packed"/"stored", and its size and CRC-32 of the data
  std::map<std::string, std::string> files;  // name -> size and CRC-32, packed blocks only
  std::string problem;                       // a packed block that does not decode
};

struct SetupFacts {
  std::string stub;
  std::vector<std::string> order;
  std::map<std::string, BlockFacts> blocks;
};

bool Read(const uint8_t* view, uint32_t size, SetupFacts* setup) {
  std::vector<const SfxBlockHeader*> blocks = Blocks(view, size);
  if (blocks.empty()) return false;
  uint32_t stubSize = (uint32_t)(reinterpret_cast<const uint8_t*>(blocks.front()) - view);
  // The four container words describe the blocks, not the stub: they count as zeros here.
  std::string stub((const char*)view, stubSize);
  for (uint32_t at = kSfxFirstOffsetWord; at < kSfxBlockCountCopyWord + 4 && at < stubSize; ++at)
    stub[at] = '\0';
  setup->stub = SizeAndCrc(stubSize, Crc32(stub));
  for (const SfxBlockHeader* h : blocks) {
    std::string name = BlockName(h);
    BlockFacts block;
    std::string data((const char*)h->Data(), h->DataLength());
    StreamReport r = CheckPackedBlock(h->Data(), h->DataLength(), false);
    block.kind = r.tableOk ? "packed" : "stored";
    block.facts = SizeAndCrc(data.size(), Crc32(data));
    for (const TableEntry& f : r.files) block.files[f.name] = SizeAndCrc(f.size, f.crc);
    if (r.tableOk && !(r.complete && r.problem.empty()))
      block.problem = r.problem.empty() ? "the stream ends early" : r.problem;
    setup->order.push_back(name);
    setup->blocks[name] = block;
  }
  return true;
}

}  // namespace

SetupDiff DiffSetups(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize) {
  SetupDiff diff;
  SetupFacts left, right;
  if (!Read(a, aSize, &left) || !Read(b, bSize, &right)) {
    diff.readable = false;
    return diff;
  }
  auto line = [&diff](const std::string& text) { diff.lines += text + "\n"; };
  line("stub: " + (left.stub == right.stub ? "same, " + left.stub
                                           : "differs: " + left.stub + " -> " + right.stub));
  std::vector<std::string> names = left.order;
  for (const std::string& n : right.order)
    if (!left.blocks.count(n)) names.push_back(n);
  for (const std::string& name : names) {
    auto l = left.blocks.find(name), r = right.blocks.find(name);
    std::string head = "block " + name + ": ";
    if (r == right.blocks.end() || l == left.blocks.end()) {
      const BlockFacts& only = l != left.blocks.end() ? l->second : r->second;
      line(head + (l != left.blocks.end() ? "removed: " : "added: ") + only.kind + ", " +
           only.facts);
      diff.payloadDiffers = true;
      continue;
    }
    const BlockFacts &x = l->second, &y = r->second;
    std::string was = x.kind + ", " + x.facts, now = y.kind + ", " + y.facts;
    line(head + (was == now ? "same, " + was : "changed: " + was + " -> " + now));
    diff.payloadDiffers = diff.payloadDiffers || was != now;
    for (const BlockFacts* broken : {&x, &y})
      if (!broken->problem.empty())
        line("  " + std::string(broken == &x ? "first" : "second") + " setup's block does not " +
             "decode: " + broken->problem);
    for (const auto& f : x.files) {
      auto other = y.files.find(f.first);
      if (other == y.files.end())
        line("  file " + f.first + ": removed: " + f.second);
      else if (other->second != f.second)
        line("  file " + f.first + ": changed: " + f.second + " -> " + other->second);
    }
    for (const auto& f : y.files)
      if (!x.files.count(f.first)) line("  file " + f.first + ": added: " + f.second);
  }
  if (left.order != right.order) {
    std::string was, now;
    for (const std::string& n : left.order) was += " " + n;
    for (const std::string& n : right.order) now += " " + n;
    line("block order: differs:" + was + " ->" + now);
    diff.payloadDiffers = true;
  }
  line(std::string("payload: ") + (diff.payloadDiffers ? "differs" : "same"));
  return diff;
}

}  // namespace pwpack

/* The malformed-setup corpus; see malformed_setups.h. */
#include "tests/corpus/malformed_setups.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

namespace corpus {

static bool Pack(const std::string& stream, std::string* data, std::string* error) {
  static std::map<std::string, std::string> packed;
  std::string& made = packed[stream];
  if (made.empty() && !pwpack::CompressBlock(stream, false, &made, error, nullptr, 1)) return false;
  *data = made;
  return true;
}

bool PackFiles(const std::vector<pwpack::PackFile>& files, std::string* data, std::string* error) {
  std::string stream;
  return pwpack::MakeDecodedStream(files, &stream, error) && Pack(stream, data, error);
}

namespace {

using Chain = std::vector<pwpack::Block>;
using Make = decltype(Case::make);
using Damage = std::function<void(std::string&)>;

// The DOS header's words: the first block's offset, its copy, the block count (and its copy).
const size_t kFirst = 0x28, kFirstCopy = 0x2C, kCount = 0x30;
// A block header's size, and its size and next-block fields.
const size_t kHeader = 22, kSize = 2, kNext = 10;

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | (uint8_t)s[at + i];
  return v;
}

std::string LeBytes(uint32_t v, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (char)((v >> (8 * i)) & 0xFF);
  return s;
}

// A word, and with both its copy behind it in the DOS header.
void SetLe32(std::string& s, size_t at, uint32_t v, bool both = false) {
  s.replace(at, 4, LeBytes(v, 4));
  if (both) s.replace(at + 4, 4, LeBytes(v, 4));
}

// File offset of block i: the writer lays the blocks out one behind the other in chain order.
size_t BlockAt(const std::string& setup, size_t i) {
  size_t at = Le32(setup, kFirst);
  for (; i > 0; --i) at += Le32(setup, at + kSize);
  return at;
}

// The files' stream, unchecked (the writer's refuses these names and sizes): each file from index
// escaping on is named out of the folder; the table claims claimed bytes for the last (0: real).
std::string RawStream(const std::vector<pwpack::PackFile>& files, size_t escaping = SIZE_MAX,
                      uint32_t claimed = 0) {
  std::string table, data;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string name = (i >= escaping ? "..\\" : "") + files[i].name;
    uint32_t size = claimed && i + 1 == files.size() ? claimed : (uint32_t)files[i].contents.size();
    table += LeBytes(size, 4) + (char)(name.size() + 1) + name + '\0';
    data += files[i].contents + LeBytes(pwpack::Crc32(files[i].contents), 4);
  }
  return LeBytes(table.size() + 4, 2) + LeBytes(files.size(), 2) + table + data;
}

// A file that does not compress: a damaged stream then decodes to garbage, not one byte repeated.
std::string NoiseFile(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 0x2545F491;
  for (char& c : bytes) c = (char)((x = x * 1664525u + 1013904223u) >> 24);
  return bytes;
}

// What "pondwick" holds where its unpacking is meant to fail anyway (the product's is slower).
const std::vector<pwpack::PackFile>& StandIn() {
  static const std::vector<pwpack::PackFile> files = {{"readme.txt", "Pondwick\r\n"},
                                                      {"data.bin", NoiseFile(16384)}};
  return files;
}

// The healthy chain "pondwick", "langs", "affid" (and "portable"), as built setups have it,
// changed by edit before it is written and by damage (to the container's frame) afterwards.
// "pondwick" holds the stand-in unless the run is meant to get past it.
Make Framed(Damage damage, bool portable = false,
            std::function<bool(const Parts&, Chain&, std::string*)> edit = nullptr,
            bool product = false) {
  return [=](const Parts& p, std::string* setup, std::string* error) {
    Chain chain = {{"pondwick", "", true}, {"langs", "", true}, {"affid", p.affid, false}};
    if (portable) chain.push_back({"portable", "", true});
    if (!PackFiles(product ? p.pondwick : StandIn(), &chain[0].data, error) ||
        !PackFiles(p.langs, &chain[1].data, error) ||
        (portable && !PackFiles(p.portable, &chain[3].data, error)) ||
        (edit && !edit(p, chain, error)) || !pwpack::WriteSetup(p.stub, chain, setup, error))
      return false;
    if (damage) damage(*setup);
    return true;
  };
}

// The chain changed before it is written (the CRC is the changed data's), and maybe damaged.
Make Edited(void (*edit)(Chain&), Damage damage = nullptr) {
  return Framed(damage, false,
                [=](const Parts&, Chain& chain, std::string*) { return edit(chain), true; });
}

// "pondwick" last, so that a broken link in front of it hides it.
Make PondwickLast(Damage damage) {
  return Edited([](Chain& c) { std::rotate(c.begin(), c.begin() + 1, c.end()); }, damage);
}

// The block at index i of the healthy chain (with "portable" as the fourth) has a broken
// signature: the walk stops in front of it.
Make BadSignatureAt(size_t i) {
  return Framed([i](std::string& s) { s[BlockAt(s, i)] = 'X'; }, i == 3);
}

// The block named name carries the packed stream instead (its CRC is the true one: the
// integrity test passes it). The run gets to a block behind "pondwick" only with the product's.
Make WithStream(const std::string& stream, const std::string& name = "pondwick",
                std::string (*files)(const Parts&) = nullptr) {
  return Framed(
      nullptr, name == "portable",
      [=](const Parts& p, Chain& chain, std::string* error) {
        for (pwpack::Block& b : chain)
          if (b.name == name && !Pack(files ? files(p) : stream, &b.data, error)) return false;
        return true;
      },
      name != "pondwick");
}

// What one error report leaves: its log lines (the report ends with CR LF, the system's text
// with one more) and its box, captioned by the detail or, without one, the system's "Error".
struct Report {
  Lines log;
  std::string box;
};

Report Reported(const std::string& message, const char* detail, uint32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X", code);
  std::string hex = buffer,
              text = message + " " + (detail ? detail : "") + (code ? ": {E" + hex + "}" : "");
  Lines log = code ? Lines{"[" + hex + "] " + text, "", " "} : Lines{"[0] " + text, " "};
  return {log, std::string(detail ? detail : "Error") + "|" + text + (code ? "\r\n\r\n" : "\r\n")};
}

const uint32_t kFail = 0x80004005, kInvalidArg = 0x80070057, kTooLong = 0x800700CE;

Report DecodeFailed(uint32_t code = kFail) {
  return Reported("Failed to decode stream ", nullptr, code);
}

// A run that the integrity test stops after the walk's own line (none for a CRC mismatch).
Case Refused(const char* name, const char* damage, const char* walkLine, Make make) {
  Report corrupted = Reported("Corrupted Setup File ", "{S}", 0);
  Lines log = *walkLine ? Lines{"[0] GetNextSfxBlock: " + std::string(walkLine) + " ",
                                "[0] TestSFX() -  FAIL"}
                        : Lines{"[0] TestSFX - Bad CRC "};
  log.insert(log.end(), corrupted.log.begin(), corrupted.log.end());
  return {name, damage, Stage::kBeforeTemp, make, (int)kFail, log, {corrupted.box}, "-"};
}

// A run in which a block does not unpack: "pondwick" (the run stops), "langs" (the run goes on
// without languages) or "portable" (the run stops after the product's files were moved into
// place). The reports come from the inside out, inner being the decoding's own: a block that is
// not found is only logged; a decoding that fails is reported once more, and where the run
// stops, once again.
Case Unpacking(const char* name, const std::string& damage, Make make,
               std::vector<Report> inner = {DecodeFailed()}, uint32_t code = kFail,
               Stage stage = Stage::kUnpacking, bool found = true) {
  std::string block = stage == Stage::kRunGoesOn  ? "langs"
                      : stage == Stage::kPortable ? "portable"
                                                  : "pondwick";
  const char* folder = stage == Stage::kPortable ? "{R}" : "{T}";
  if (found) inner.push_back(Reported("Err unpack to", folder, code));
  if (stage != Stage::kRunGoesOn)
    inner.push_back(Reported("Can't unpack " + block + ".bin to ", folder, code));
  Case c = {name, damage, stage, make, (int)code, {"[0] UnpackSFX()  " + block}, {}, "-"};
  if (!found) c.decisive.push_back("[0] Err open  " + block);
  for (const Report& r : inner) {
    c.decisive.insert(c.decisive.end(), r.log.begin(), r.log.end());
    c.boxes.push_back(r.box);
  }
  if (stage == Stage::kRunGoesOn) {
    c.exitCode = 0;
    c.decisive.insert(c.decisive.end(), {"[0] ENGLISH Ver ", "[0] SaveSFX()  affid"});
    c.files = "affid.txt identities.exe pondwick.dll pwwipeout.exe readme.txt";
  } else {
    c.decisive.push_back("[0] Cleanup folder  {T}");
    if (stage == Stage::kPortable)
      c.files = "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt";
  }
  return c;
}

// The sink refuses a name of the table: reported with the name, then as a failed decoding.
std::vector<Report> NameRefused(const char* name) {
  return {Reported("Error creating file ", name, 123), DecodeFailed()};
}

// A good file first, then the bad name: the table is refused before either is made.
Case BadName(const char* name, const char* fileName) {
  return Unpacking(name, std::string("a file named ") + fileName,
                   WithStream(RawStream({{"readme.txt", "good"}, {fileName, "escape"}})),
                   NameRefused(fileName));
}

std::vector<Case> MakeCases() {
  const char kDosHeader[] = "Bad SFX data in DOS Header", kNextSignature[] = "Bad next signature",
             kBadSize[] = "Next sect bad size", kNoFit[] = "Current section does not fit in SFX";
  // 254 characters, the most a name length byte allows with its zero: past MAX_PATH in any folder.
  const std::string longName = std::string(250, 'n') + ".txt";
  // The stand-in's stream, but the last CRC field is off by one.
  std::string crcOffByOne = RawStream(StandIn());
  crcOffByOne[crcOffByOne.size() - 4] ^= 1;
  return {
      // The setup program as the linker made it: its DOS header's reserved words are all 0.
      Refused(
          "NoContainer", "the setup program alone, no container behind it", kDosHeader,
          [](const Parts& p, std::string* setup, std::string*) { return *setup = p.stub, true; }),
      Refused("DosOffsetCopyDiffers", "the first block offset and its copy differ", kDosHeader,
              Framed([](auto& s) { SetLe32(s, kFirstCopy, Le32(s, kFirst) + 1); })),
      Refused("DosBlockCountZero", "the block count and its copy are 0", kDosHeader,
              Framed([](auto& s) { SetLe32(s, kCount, 0, true); })),
      Refused("DosOffsetAtFileEnd", "the first block offset is the file size", kDosHeader,
              Framed([](auto& s) { SetLe32(s, kFirst, (uint32_t)s.size(), true); })),
      // Its signature and size are there, its name is not.
      Refused("FirstHeaderCutShort", "the first header does not fit: 21 bytes before the end",
              kDosHeader, Framed([](auto& s) {
                uint32_t at = (uint32_t)s.size();
                s += s.substr(BlockAt(s, 0), kHeader - 1);
                SetLe32(s, kFirst, at, true);
              })),
      Refused("FirstSignatureBad", "the first block's signature is wrong", kNextSignature,
              BadSignatureAt(0)),
      Refused("BlockSizeBelowHeader", "the first block's size is 21, below its own header",
              kBadSize, Framed([](auto& s) { SetLe32(s, BlockAt(s, 0) + kSize, kHeader - 1); })),
      // Cut to 32 bits, offset plus size would be 64, well inside the file.
      Refused("BlockSizeWraps", "the first block's offset plus size wraps past 2^32", kBadSize,
              Framed([](auto& s) {
                size_t at = BlockAt(s, 0);
                SetLe32(s, at + kSize, (uint32_t)(0x100000000ull - at + 64));
              })),
      // The test stops at the second block; no walk line, no "TestSFX() - " line.
      Refused("LangsCrcMismatch", "one byte of the \"langs\" data changed behind its CRC", "",
              Framed([](auto& s) {
                size_t at = BlockAt(s, 1);
                s[at + kHeader + (Le32(s, at + kSize) - kHeader) / 2] ^= 0x10;
              })),
      // A link broken behind the first block fails the test too: the blocks behind it would be
      // neither tested nor found, and without its "portable" block the other edition installs.
      Refused("NextHeaderCutShort", "a link points 10 bytes before the end, in front of pondwick",
              kNoFit, PondwickLast([](auto& s) {
                SetLe32(s, BlockAt(s, 0) + kNext, (uint32_t)s.size() - 10);
              })),
      Refused("ChainLoopsBack", "the second block links back to the first, pondwick behind", kNoFit,
              PondwickLast(
                  [](auto& s) { SetLe32(s, BlockAt(s, 1) + kNext, (uint32_t)BlockAt(s, 0)); })),
      Refused("AffidBadSignature", "the last block, affid, has a broken signature", kNextSignature,
              BadSignatureAt(2)),
      Refused("PortableBadSignature", "the header in front of portable has a broken signature",
              kNextSignature, BadSignatureAt(3)),
      Unpacking("PondwickMissing", "no block named pondwick",
                Edited([](Chain& c) { c.erase(c.begin()); }), {}, kFail, Stage::kUnpacking, false),
      Unpacking("StreamTruncated", "the pondwick stream is cut in half (CRC of the cut data)",
                Edited([](Chain& c) { c[0].data.resize(5 + (c[0].data.size() - 5) / 2); })),
      // The decoder finds the data malformed inside data.bin: the stream ends there, short.
      Unpacking("StreamCorrupt", "one byte in the middle of the pondwick stream changed",
                Edited([](Chain& c) { c[0].data[5 + (c[0].data.size() - 5) / 2] ^= 0x55; })),
      Unpacking("FileCrcMismatch", "the CRC field behind data.bin does not match its bytes",
                WithStream(crcOffByOne),
                {Reported("CRC Error in file ", "data.bin", 0), DecodeFailed()}),
      // lc 4, lp 1, pb 0: the format allows it, liblzma's decoder does not.
      Unpacking("LcLpAboveFour", "LZMA properties lc 4, lp 1",
                Edited([](Chain& c) { c[0].data[0] = (char)((0 * 5 + 1) * 9 + 4); }),
                {Reported("SetDecoderProperties error", nullptr, kInvalidArg)}, kInvalidArg),
      Unpacking("PropertiesCutShort", "pondwick holds 3 bytes, fewer than its properties",
                Edited([](Chain& c) { c[0].data.resize(3); }),
                {Reported("Read DecoderProperties size mismatch", nullptr, 0)}),
      BadName("NameLeavesFolder", "..\\escaped.txt"),
      BadName("NameWithSlash", "sub/escaped.txt"),
      BadName("NameIsDevice", "NUL"),
      BadName("NameIsSerialPort", "com1.txt"),
      BadName("NameOnDrive", "C:escaped.txt"),
      Unpacking("PathTooLong", "a 254-character name: the path passes MAX_PATH",
                WithStream(RawStream({{longName, "long"}})),
                {Reported("Error creating file ", ("{T}\\" + longName).c_str(), 206),
                 DecodeFailed(kTooLong)},
                kTooLong),
      Unpacking("TableContradicts", "table size 4 with one entry counted",
                WithStream(LeBytes(4, 2) + LeBytes(1, 2) + LeBytes(4, 4) + "\x05" + "a.txt" + '\0'),
                {Reported("Bad file table ", "{T}", 0), DecodeFailed()}),
      Unpacking("TableClaimsMore", "the table claims 100000 bytes, the stream gives 1000",
                WithStream(RawStream({{"data.bin", NoiseFile(1000)}}, SIZE_MAX, 100000))),
      Unpacking("LangsBadName", "a language file named ..\\en.lng",
                WithStream("", "langs",
                           [](const Parts& p) { return RawStream(p.langs, p.langs.size() - 1); }),
                NameRefused("..\\en.lng"), kFail, Stage::kRunGoesOn),
      Unpacking("PortableBadName", "a portable file named ..\\roamkit.ini",
                WithStream("", "portable", [](const Parts& p) { return RawStream(p.portable, 0); }),
                NameRefused("..\\roamkit.ini"), kFail, Stage::kPortable),
  };
}

}  // namespace

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = MakeCases();
  return cases;
}

}  // namespace corpus

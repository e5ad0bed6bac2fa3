/* The malformed-setup corpus; see malformed_setups.h. */
#include "tests/corpus/malformed_setups.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

namespace corpus {
namespace {

// ---- Bytes of a setup that pwpack's writer made ----

const size_t kFirstOffsetWord = 0x28, kFirstOffsetCopyWord = 0x2C, kCountWord = 0x30,
             kCountCopyWord = 0x34;
const size_t kHeaderSize = 22, kSizeField = 2, kNextField = 10;

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | (uint8_t)s[at + i];
  return v;
}

void SetLe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}

std::string Le32Bytes(uint32_t v) {
  std::string s(4, '\0');
  SetLe32(s, 0, v);
  return s;
}

std::string Le16Bytes(uint16_t v) { return std::string{(char)(v & 0xFF), (char)(v >> 8)}; }

// File offset of block i: the writer lays the blocks out one behind the other in chain order.
size_t BlockAt(const std::string& setup, size_t i) {
  size_t at = Le32(setup, kFirstOffsetWord);
  for (; i > 0; --i) at += Le32(setup, at + kSizeField);
  return at;
}

// ---- Packed block data ----

// Packed data for a decoded stream; compressing costs time, so each stream is packed once.
bool Pack(const std::string& stream, std::string* data, std::string* error) {
  static std::map<std::string, std::string> packed;
  auto found = packed.find(stream);
  if (found != packed.end()) {
    *data = found->second;
    return true;
  }
  if (!pwpack::CompressBlock(stream, false, data, error, nullptr, 1)) return false;
  packed[stream] = *data;
  return true;
}

bool PackFiles(const std::vector<pwpack::PackFile>& files, std::string* data, std::string* error) {
  std::string stream;
  return pwpack::MakeDecodedStream(files, &stream, error) && Pack(stream, data, error);
}

// A file table entry as the stream states it, whatever its name: the writer's own stream maker
// refuses the names and sizes that these cases need.
struct Entry {
  std::string name;
  uint32_t size;         // as the table claims
  std::string contents;  // what the stream gives (followed by their CRC-32)
};

std::string RawStream(const std::vector<Entry>& entries) {
  std::string table;
  for (const Entry& e : entries)
    table += Le32Bytes(e.size) + (char)(e.name.size() + 1) + e.name + '\0';
  std::string stream =
      Le16Bytes((uint16_t)(table.size() + 4)) + Le16Bytes((uint16_t)entries.size()) + table;
  for (const Entry& e : entries) stream += e.contents + Le32Bytes(pwpack::Crc32(e.contents));
  return stream;
}

// A file that does not compress: a damaged stream then decodes to garbage, not to a long run of
// one repeated byte.
std::string NoiseFile(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 0x2545F491;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = (char)(x >> 24);
  }
  return bytes;
}

// What "pondwick" holds where its unpacking is meant to fail anyway: the product's own files
// would only make the cases slower.
const std::vector<pwpack::PackFile>& StandIn() {
  static const std::vector<pwpack::PackFile> files = {{"readme.txt", "Pondwick\r\n"},
                                                      {"data.bin", NoiseFile(16384)}};
  return files;
}

// ---- Chains ----

enum Payload { kStandIn, kProduct };

// The healthy chain "pondwick", "langs", "affid" (and "portable"), as built setups have it.
bool Healthy(const Parts& p, Payload payload, bool portable, std::vector<pwpack::Block>* chain,
             std::string* error) {
  chain->assign({{"pondwick", "", true}, {"langs", "", true}, {"affid", p.affid, false}});
  if (!PackFiles(payload == kProduct ? p.pondwick : StandIn(), &(*chain)[0].data, error) ||
      !PackFiles(p.langs, &(*chain)[1].data, error))
    return false;
  if (portable) {
    chain->push_back({"portable", "", true});
    if (!PackFiles(p.portable, &chain->back().data, error)) return false;
  }
  return true;
}

bool Write(const Parts& p, const std::vector<pwpack::Block>& chain, std::string* setup,
           std::string* error) {
  return pwpack::WriteSetup(p.stub, chain, setup, error);
}

// A healthy stand-in setup, for damage to the container's frame.
bool Plain(const Parts& p, std::string* setup, std::string* error) {
  std::vector<pwpack::Block> chain;
  return Healthy(p, kStandIn, false, &chain, error) && Write(p, chain, setup, error);
}

// A setup whose block named name carries the packed stream instead (its CRC is the true one:
// the integrity test passes it).
bool WithStream(const Parts& p, const char* name, const std::string& stream, Payload payload,
                bool portable, std::string* setup, std::string* error) {
  std::vector<pwpack::Block> chain;
  if (!Healthy(p, payload, portable, &chain, error)) return false;
  for (pwpack::Block& b : chain)
    if (b.name == name && !Pack(stream, &b.data, error)) return false;
  return Write(p, chain, setup, error);
}

// A setup whose "pondwick" data is the stand-in's packed data changed by damage, carrying the
// CRC of the changed data.
bool WithPondwickData(const Parts& p, void (*damage)(std::string& data), std::string* setup,
                      std::string* error) {
  std::vector<pwpack::Block> chain;
  if (!Healthy(p, kStandIn, false, &chain, error)) return false;
  damage(chain[0].data);
  return Write(p, chain, setup, error);
}

// The blocks in another order, "pondwick" last, so that a broken link in front of it hides it.
bool PondwickLast(const Parts& p, std::string* setup, std::string* error) {
  std::vector<pwpack::Block> chain;
  if (!Healthy(p, kStandIn, false, &chain, error)) return false;
  std::rotate(chain.begin(), chain.begin() + 1, chain.end());
  return Write(p, chain, setup, error);
}

// ---- The cases' setups ----

// The setup program as the linker made it, with no container behind it: its DOS header's
// reserved words are all 0.
bool NoContainer(const Parts& p, std::string* s, std::string*) {
  *s = p.stub;
  return true;
}

bool DosOffsetCopyDiffers(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  SetLe32(*s, kFirstOffsetCopyWord, Le32(*s, kFirstOffsetWord) + 1);
  return true;
}

bool DosBlockCountZero(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  SetLe32(*s, kCountWord, 0);
  SetLe32(*s, kCountCopyWord, 0);
  return true;
}

bool DosOffsetAtFileEnd(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  SetLe32(*s, kFirstOffsetWord, (uint32_t)s->size());
  SetLe32(*s, kFirstOffsetCopyWord, (uint32_t)s->size());
  return true;
}

// The first header starts 21 bytes before the end of the file: its signature and size are
// there, its name is not.
bool FirstHeaderCutShort(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  std::string first = s->substr(BlockAt(*s, 0), kHeaderSize - 1);
  uint32_t at = (uint32_t)s->size();
  *s += first;
  SetLe32(*s, kFirstOffsetWord, at);
  SetLe32(*s, kFirstOffsetCopyWord, at);
  return true;
}

bool FirstSignatureBad(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  (*s)[BlockAt(*s, 0)] = 'X';
  return true;
}

bool BlockSizeBelowHeader(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  SetLe32(*s, BlockAt(*s, 0) + kSizeField, kHeaderSize - 1);
  return true;
}

// Offset plus size is 2^32 + 64: cut to 32 bits it would be 64, well inside the file.
bool BlockSizeWraps(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  size_t at = BlockAt(*s, 0);
  SetLe32(*s, at + kSizeField, (uint32_t)(0x100000000ull - at + 64));
  return true;
}

// "pondwick" is last; the first block's link points 10 bytes before the end of the file.
bool NextHeaderCutShort(const Parts& p, std::string* s, std::string* e) {
  if (!PondwickLast(p, s, e)) return false;
  SetLe32(*s, BlockAt(*s, 0) + kNextField, (uint32_t)s->size() - 10);
  return true;
}

// "pondwick" is last; the second block links back to the first.
bool ChainLoopsBack(const Parts& p, std::string* s, std::string* e) {
  if (!PondwickLast(p, s, e)) return false;
  SetLe32(*s, BlockAt(*s, 1) + kNextField, (uint32_t)BlockAt(*s, 0));
  return true;
}

// One byte of the "langs" data changes behind its CRC.
bool LangsCrcMismatch(const Parts& p, std::string* s, std::string* e) {
  if (!Plain(p, s, e)) return false;
  size_t at = BlockAt(*s, 1);
  (*s)[at + kHeaderSize + (Le32(*s, at + kSizeField) - kHeaderSize) / 2] ^= 0x10;
  return true;
}

bool PondwickMissing(const Parts& p, std::string* s, std::string* e) {
  std::vector<pwpack::Block> chain;
  if (!Healthy(p, kStandIn, false, &chain, e)) return false;
  chain.erase(chain.begin());
  return Write(p, chain, s, e);
}

bool StreamTruncated(const Parts& p, std::string* s, std::string* e) {
  return WithPondwickData(
      p, [](std::string& data) { data.resize(5 + (data.size() - 5) / 2); }, s, e);
}

bool StreamCorrupt(const Parts& p, std::string* s, std::string* e) {
  return WithPondwickData(
      p, [](std::string& data) { data[5 + (data.size() - 5) / 2] ^= 0x55; }, s, e);
}

// The stream as the writer makes it, but the last CRC field is off by one.
bool FileCrcMismatch(const Parts& p, std::string* s, std::string* e) {
  std::string stream;
  if (!pwpack::MakeDecodedStream(StandIn(), &stream, e)) return false;
  stream[stream.size() - 4] ^= 1;
  return WithStream(p, "pondwick", stream, kStandIn, false, s, e);
}

bool LcLpAboveFour(const Parts& p, std::string* s, std::string* e) {
  // lc 4, lp 1, pb 0: the format allows it, liblzma's decoder does not.
  return WithPondwickData(
      p, [](std::string& data) { data[0] = (char)((0 * 5 + 1) * 9 + 4); }, s, e);
}

bool PropertiesCutShort(const Parts& p, std::string* s, std::string* e) {
  return WithPondwickData(
      p, [](std::string& data) { data.resize(3); }, s, e);
}

// A good file first, then the bad name: the table is refused before either is made.
template <const char* kName>
bool PondwickName(const Parts& p, std::string* s, std::string* e) {
  return WithStream(p, "pondwick", RawStream({{"readme.txt", 4, "good"}, {kName, 6, "escape"}}),
                    kStandIn, false, s, e);
}
const char kParent[] = "..\\escaped.txt";
const char kSlash[] = "sub/escaped.txt";
const char kNul[] = "NUL";
const char kCom1[] = "com1.txt";
const char kDrive[] = "C:escaped.txt";

// 254 characters, the most that a name length byte allows with its zero: joined to any
// temporary folder it passes MAX_PATH.
std::string LongName() { return std::string(250, 'n') + ".txt"; }

bool PathTooLong(const Parts& p, std::string* s, std::string* e) {
  return WithStream(p, "pondwick", RawStream({{LongName(), 4, "long"}}), kStandIn, false, s, e);
}

// Table size 4 (the header alone) with one entry counted.
bool TableContradicts(const Parts& p, std::string* s, std::string* e) {
  std::string stream = Le16Bytes(4) + Le16Bytes(1) + Le32Bytes(4) + "\x05" + "a.txt" + '\0';
  return WithStream(p, "pondwick", stream, kStandIn, false, s, e);
}

// The table promises 100000 bytes of data.bin; the stream ends after 1000 and their CRC.
bool TableClaimsMore(const Parts& p, std::string* s, std::string* e) {
  return WithStream(p, "pondwick", RawStream({{"data.bin", 100000, NoiseFile(1000)}}), kStandIn,
                    false, s, e);
}

// Language files, one of them named out of the folder: the run goes on without languages.
bool LangsBadName(const Parts& p, std::string* s, std::string* e) {
  std::vector<Entry> entries;
  for (const pwpack::PackFile& f : p.langs)
    entries.push_back({f.name == p.langs.back().name ? "..\\" + f.name : f.name,
                       (uint32_t)f.contents.size(), f.contents});
  return WithStream(p, "langs", RawStream(entries), kProduct, false, s, e);
}

// The block at index i of the healthy chain (with "portable" as the fourth) has a broken
// signature: the walk stops in front of it.
template <size_t kIndex>
bool BadSignatureAt(const Parts& p, std::string* s, std::string* e) {
  std::vector<pwpack::Block> chain;
  if (!Healthy(p, kStandIn, kIndex == 3, &chain, e) || !Write(p, chain, s, e)) return false;
  (*s)[BlockAt(*s, kIndex)] = 'X';
  return true;
}

bool PortableBadName(const Parts& p, std::string* s, std::string* e) {
  std::vector<Entry> entries;
  for (const pwpack::PackFile& f : p.portable)
    entries.push_back({"..\\" + f.name, (uint32_t)f.contents.size(), f.contents});
  return WithStream(p, "portable", RawStream(entries), kProduct, true, s, e);
}

// ---- Expected reports ----

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", code);
  return text;
}

// What one error report leaves: its log lines (the report ends with CR LF, the system's text
// with one more) and its box, captioned by the detail or, without one, the system's "Error".
struct Report {
  Lines log;
  std::string box;
};

Report Reported(const std::string& message, const char* detail, uint32_t code) {
  std::string text = message + " " + (detail ? detail : "");
  if (code) text += ": {E" + Hex(code) + "}";
  Report r;
  r.log = {"[" + Hex(code) + "] " + text};
  if (code) r.log.push_back("");
  r.log.push_back(" ");
  r.box = std::string(detail ? detail : "Error") + "|" + text + (code ? "\r\n\r\n" : "\r\n");
  return r;
}

const uint32_t kFail = 0x80004005, kInvalidArg = 0x80070057;
const char kTemp[] = "{T}", kRoot[] = "{R}", kSetup[] = "{S}";

// A run that the integrity test stops after the walk's own line (none for a CRC mismatch).
Case Refused(const char* name, const char* damage,
             bool (*make)(const Parts&, std::string*, std::string*), const std::string& walkLine) {
  Report corrupted = Reported("Corrupted Setup File ", kSetup, 0);
  Lines log = walkLine.empty() ? Lines{"[0] TestSFX - Bad CRC "}
                               : Lines{"[0] " + walkLine + " ", "[0] TestSFX() -  FAIL"};
  return {name, damage,     Stage::kBeforeTemp,  false,
          make, (int)kFail, log + corrupted.log, {corrupted.box},
          "-"};
}

// A run whose "pondwick" does not unpack: the reports from inside out, then the temporary
// folder goes. inner: the reports of the decoding itself.
Case Unpacking(const char* name, const char* damage,
               bool (*make)(const Parts&, std::string*, std::string*), uint32_t code,
               const std::vector<Report>& inner, const Lines& notFound = {}) {
  Lines log = Lines{"[0] UnpackSFX()  pondwick"} + notFound;
  Lines boxes;
  std::vector<Report> all = inner;
  // A block that is not found is only logged; a decoding that fails is reported once more.
  if (notFound.empty()) all.push_back(Reported("Err unpack to", kTemp, code));
  all.push_back(Reported("Can't unpack pondwick.bin to ", kTemp, code));
  for (const Report& r : all) {
    log = log + r.log;
    boxes.push_back(r.box);
  }
  return {name,
          damage,
          Stage::kUnpacking,
          false,
          make,
          (int)code,
          log + Lines{"[0] Cleanup folder  {T}"},
          boxes,
          "-"};
}

// The sink refuses a name of the table: reported with the name, then as a failed decoding.
std::vector<Report> NameRefused(const char* name) {
  return {Reported("Error creating file ", name, 123),
          Reported("Failed to decode stream ", nullptr, kFail)};
}

const char kAllButLangs[] = "affid.txt identities.exe pondwick.dll pwwipeout.exe readme.txt";
const char kAll[] = "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt";

std::vector<Case> MakeCases() {
  const std::string longPath = "{T}\\" + LongName();
  std::vector<Case> cases = {
      Refused("NoContainer", "the setup program alone, no container behind it", NoContainer,
              "GetNextSfxBlock: Bad SFX data in DOS Header"),
      Refused("DosOffsetCopyDiffers", "the first block offset and its copy differ",
              DosOffsetCopyDiffers, "GetNextSfxBlock: Bad SFX data in DOS Header"),
      Refused("DosBlockCountZero", "the block count and its copy are 0", DosBlockCountZero,
              "GetNextSfxBlock: Bad SFX data in DOS Header"),
      Refused("DosOffsetAtFileEnd", "the first block offset is the file size", DosOffsetAtFileEnd,
              "GetNextSfxBlock: Bad SFX data in DOS Header"),
      Refused("FirstHeaderCutShort", "the first header does not fit: 21 bytes before the end",
              FirstHeaderCutShort, "GetNextSfxBlock: Bad SFX data in DOS Header"),
      Refused("FirstSignatureBad", "the first block's signature is wrong", FirstSignatureBad,
              "GetNextSfxBlock: Bad next signature"),
      Refused("BlockSizeBelowHeader", "the first block's size is 21, below its own header",
              BlockSizeBelowHeader, "GetNextSfxBlock: Next sect bad size"),
      Refused("BlockSizeWraps", "the first block's offset plus size wraps past 2^32",
              BlockSizeWraps, "GetNextSfxBlock: Next sect bad size"),
      // The test stops at the second block; no walk line, no "TestSFX() - " line.
      Refused("LangsCrcMismatch", "one byte of the \"langs\" data changed behind its CRC",
              LangsCrcMismatch, ""),
      // A link broken behind the first block fails the test too: the blocks behind it would
      // be neither tested nor found, and a setup without its "portable" block would install
      // the other edition.
      Refused("NextHeaderCutShort", "a link points 10 bytes before the end, in front of pondwick",
              NextHeaderCutShort, "GetNextSfxBlock: Current section does not fit in SFX"),
      Refused("ChainLoopsBack", "the second block links back to the first, pondwick behind",
              ChainLoopsBack, "GetNextSfxBlock: Current section does not fit in SFX"),
      Refused("AffidBadSignature", "the last block, affid, has a broken signature",
              BadSignatureAt<2>, "GetNextSfxBlock: Bad next signature"),
      Refused("PortableBadSignature", "the header in front of portable has a broken signature",
              BadSignatureAt<3>, "GetNextSfxBlock: Bad next signature"),
      Unpacking("PondwickMissing", "no block named pondwick", PondwickMissing, kFail, {},
                {"[0] Err open  pondwick"}),
      Unpacking("StreamTruncated", "the pondwick stream is cut in half (CRC of the cut data)",
                StreamTruncated, kFail, {Reported("Failed to decode stream ", nullptr, kFail)}),
      // The decoder finds the data malformed inside data.bin: the stream ends there, short.
      Unpacking("StreamCorrupt", "one byte in the middle of the pondwick stream changed",
                StreamCorrupt, kFail, {Reported("Failed to decode stream ", nullptr, kFail)}),
      Unpacking("FileCrcMismatch", "the CRC field behind data.bin does not match its bytes",
                FileCrcMismatch, kFail,
                {Reported("CRC Error in file ", "data.bin", 0),
                 Reported("Failed to decode stream ", nullptr, kFail)}),
      Unpacking("LcLpAboveFour", "LZMA properties lc 4, lp 1", LcLpAboveFour, kInvalidArg,
                {Reported("SetDecoderProperties error", nullptr, kInvalidArg)}),
      Unpacking("PropertiesCutShort", "pondwick holds 3 bytes, fewer than its properties",
                PropertiesCutShort, kFail,
                {Reported("Read DecoderProperties size mismatch", nullptr, 0)}),
      Unpacking("NameLeavesFolder", "a file named ..\\escaped.txt", PondwickName<kParent>, kFail,
                NameRefused(kParent)),
      Unpacking("NameWithSlash", "a file named sub/escaped.txt", PondwickName<kSlash>, kFail,
                NameRefused(kSlash)),
      Unpacking("NameIsDevice", "a file named NUL", PondwickName<kNul>, kFail, NameRefused(kNul)),
      Unpacking("NameIsSerialPort", "a file named com1.txt", PondwickName<kCom1>, kFail,
                NameRefused(kCom1)),
      Unpacking("NameOnDrive", "a file named C:escaped.txt", PondwickName<kDrive>, kFail,
                NameRefused(kDrive)),
      Unpacking("PathTooLong", "a 254-character name: the path passes MAX_PATH", PathTooLong,
                0x800700CE,
                {Reported("Error creating file ", longPath.c_str(), 206),
                 Reported("Failed to decode stream ", nullptr, 0x800700CE)}),
      Unpacking("TableContradicts", "table size 4 with one entry counted", TableContradicts, kFail,
                {Reported("Bad file table ", kTemp, 0),
                 Reported("Failed to decode stream ", nullptr, kFail)}),
      Unpacking("TableClaimsMore", "the table claims 100000 bytes, the stream gives 1000",
                TableClaimsMore, kFail, {Reported("Failed to decode stream ", nullptr, kFail)}),
  };

  // The language block fails as a whole; the run installs without languages.
  Report langName = Reported("Error creating file ", "..\\en.lng", 123);
  Report langDecode = Reported("Failed to decode stream ", nullptr, kFail);
  Report langUnpack = Reported("Err unpack to", kTemp, kFail);
  cases.push_back({"LangsBadName",
                   "a language file named ..\\en.lng",
                   Stage::kRunGoesOn,
                   false,
                   LangsBadName,
                   0,
                   Lines{"[0] UnpackSFX()  langs"} + langName.log + langDecode.log +
                       langUnpack.log + Lines{"[0] ENGLISH Ver ", "[0] SaveSFX()  affid"},
                   {langName.box, langDecode.box, langUnpack.box},
                   kAllButLangs});
  // The portable root's files are refused after the product's files were moved into place.
  Report portName = Reported("Error creating file ", "..\\roamkit.ini", 123);
  Report portDecode = Reported("Failed to decode stream ", nullptr, kFail);
  Report portUnpack = Reported("Err unpack to", kRoot, kFail);
  Report portRun = Reported("Can't unpack portable.bin to ", kRoot, kFail);
  cases.push_back({"PortableBadName",
                   "a portable file named ..\\roamkit.ini",
                   Stage::kPortable,
                   true,
                   PortableBadName,
                   (int)kFail,
                   Lines{"[0] UnpackSFX()  portable"} + portName.log + portDecode.log +
                       portUnpack.log + portRun.log + Lines{"[0] Cleanup folder  {T}"},
                   {portName.box, portDecode.box, portUnpack.box, portRun.box},
                   kAll});
  return cases;
}

}  // namespace

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = MakeCases();
  return cases;
}

}  // namespace corpus

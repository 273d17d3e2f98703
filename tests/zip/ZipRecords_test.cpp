// The archive records byte for byte, their names in code page 437 or UTF-8,
// reading them back, and whole hand-built archives checked by other tools.
#include "ZipRecords.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Streams.h"
#include "TempTree.h"
#include "ZipReader.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

Bytes operator+(Bytes a, const std::string& s) {
  a.insert(a.end(), s.begin(), s.end());
  return a;
}

// The header of the table-driven byte checks: "a/b.txt", stored 0x100 of
// 0x2345 bytes, January 11th 2025 13:33:58.
TZipHeaderInfo SampleHeader() {
  TZipHeaderInfo h;
  h.GeneralPurposeFlags = 2;
  h.LastModDateTime = 0x5A2B6C3D;
  h.CRC32 = 0x12345678;
  h.CompressedSize = 0x100;
  h.UncompressedSize = 0x2345;
  h.SetDirectory("a");
  h.SetFileName("b.txt");
  return h;
}

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

struct Entry {
  std::string name;
  std::string data;
};

// Writes a stored entry per item, the central directory and the end record,
// in the order the archive writer uses.
void BuildArchive(TStream& out, const std::vector<Entry>& entries) {
  TSortedZip central(TZipSortMode::ByNone);
  TEndCentral end;
  for (const auto& e : entries) {
    auto* h = new TZipHeaderInfo;
    h->SetFileName(e.name);
    h->LastModDateTime = 0x5A2B6C3D;
    h->SaveLocalToStream(out);
    h->CompressionMethod = 0;
    h->InternalAttributes = 0;
    h->CRC32 = Crc32(e.data);
    h->CompressedSize = h->UncompressedSize = static_cast<int64_t>(e.data.size());
    out.Write(e.data.data(), static_cast<int64_t>(e.data.size()));
    const int64_t after = out.Position();
    out.Seek(h->RelativeOffset, soFromBeginning);
    h->SaveLocalToStream(out);
    out.Seek(after, soFromBeginning);
    central.Add(h);
    ++end.TotalEntries;
    ++end.EntriesThisDisk;
  }
  end.CentralDirOffset = out.Position();
  for (auto* h : central) h->SaveCentralToStream(out);
  end.CentralSize = out.Position() - end.CentralDirOffset;
  end.SaveEndToStream(out);
}

std::string TempPath(const std::string& name) {
  return MakeTempDir() + name;
}

// Runs a command and returns its standard output and exit status.
std::pair<std::string, int> RunCommand(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char chunk[256];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  const int status = ::pclose(pipe);
  return {output, status};
}

}  // namespace

TEST(ZipRecordsSave, LocalCentralAndEndRecordsByteForByte) {
  TZipHeaderInfo h = SampleHeader();
  h.RelativeOffset = 0x1234;
  h.SetFileComment("hi");
  TMemoryStream local, central, end;
  local.Write("xyz", 3);
  h.SaveLocalToStream(local);
  EXPECT_EQ(h.RelativeOffset, 3);  // taken from the stream
  EXPECT_EQ(Bytes(local.Bytes().begin() + 3, local.Bytes().end()),
            B({0x50, 0x4B, 0x03, 0x04, 20,   0, 2, 0,    8,    0, 0x3D, 0x6C, 0x2B, 0x5A, 0x78,
               0x56, 0x34, 0x12, 0x00, 0x01, 0, 0, 0x45, 0x23, 0, 0,    7,    0,    0,    0}) +
                "a/b.txt");
  EXPECT_EQ(h.LocalHeaderSize(), 37);

  h.RelativeOffset = 0x1234;
  h.SaveCentralToStream(central);
  EXPECT_EQ(central.Bytes(), B({0x50, 0x4B, 0x01, 0x02, 20,   0,    20,   0,    2,    0,    8, 0,
                                0x3D, 0x6C, 0x2B, 0x5A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0, 0,
                                0x45, 0x23, 0,    0,    7,    0,    0,    0,    2,    0,    0, 0,
                                1,    0,    0x20, 0,    0,    0,    0x34, 0x12, 0,    0}) +
                                 "a/b.txt" + "hi");
  EXPECT_EQ(h.CentralHeaderSize(), 55);

  TEndCentral e;
  e.EntriesThisDisk = e.TotalEntries = 1;
  e.CentralSize = 0x35;
  e.CentralDirOffset = 0x1234;
  e.SetZipComment("zz");
  e.SaveEndToStream(end);
  EXPECT_EQ(end.Bytes(), B({0x50, 0x4B, 0x05, 0x06, 0, 0,    0,    0, 1, 0, 1,
                            0,    0x35, 0,    0,    0, 0x34, 0x12, 0, 0, 2, 0}) +
                             "zz");
  EXPECT_EQ(e.EndCentralSize(), 24);
}

// Little-endian bytes of a value, for the ZIP64 byte checks.
Bytes Le(uint64_t value, int width) {
  Bytes out;
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ZipRecordsZip64, LargeValuesGoToTheExtraFieldAndComeBack) {
  const int64_t big = (int64_t{5} << 30) + 7;
  struct Case {
    const char* what;
    int64_t compressed, uncompressed, offset;
    bool reserved;
    Bytes centralExtra;  // after the name
  };
  const Case cases[] = {
      {"uncompressed only", 0x100, big, 0, false, B({1, 0, 8, 0}) + Le(big, 8)},
      {"offset only", 0x100, 0x2345, big, false, B({1, 0, 8, 0}) + Le(big, 8)},
      {"all ones is already too large", 0xFFFFFFFF, 0x2345, 0, false,
       B({1, 0, 8, 0}) + Le(0xFFFFFFFF, 8)},
      // The local header holds them; the central one needs no ZIP64 field.
      {"reserved sizes that fit", 0x100, 0x2345, 0, true, B({})},
      {"everything", big + 1, big, big + 2, true,
       B({1, 0, 24, 0}) + Le(big, 8) + Le(big + 1, 8) + Le(big + 2, 8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TZipHeaderInfo h = SampleHeader();
    h.CompressedSize = c.compressed;
    h.UncompressedSize = c.uncompressed;
    h.Zip64Sizes = c.reserved;
    h.RelativeOffset = c.offset;
    TMemoryStream central;
    h.SaveCentralToStream(central);
    const Bytes& bytes = central.Bytes();
    ASSERT_EQ(bytes.size(), 46 + 7 + c.centralExtra.size());
    EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), B({45, 0, 45, 0}));
    EXPECT_EQ(bytes[30], c.centralExtra.size());
    EXPECT_EQ(Bytes(bytes.begin() + 53, bytes.end()), c.centralExtra);
    EXPECT_EQ(h.CentralHeaderSize(), static_cast<int64_t>(bytes.size()));
    TMemoryStream in(bytes);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadCentralFromStream(in));
    EXPECT_EQ(back.CompressedSize, c.compressed);
    EXPECT_EQ(back.UncompressedSize, c.uncompressed);
    EXPECT_EQ(back.RelativeOffset, c.offset);
    EXPECT_EQ(back.ExtraFieldLength, 0);
  }
}

TEST(ZipRecordsZip64, LocalHeaderHoldsBothSizesOnlyWhenRoomWasReserved) {
  TZipHeaderInfo h = SampleHeader();
  h.UncompressedSize = int64_t{1} << 32;
  TMemoryStream refused;
  EXPECT_THROW(h.SaveLocalToStream(refused), EZipFieldOverflow);
  EXPECT_EQ(refused.Size(), 0);

  h.Zip64Sizes = true;
  TMemoryStream local;
  h.SaveLocalToStream(local);
  EXPECT_EQ(
      local.Bytes(),
      B({0x50, 0x4B, 0x03, 0x04, 45,   0,    2,    0,    8,    0,    0x3D, 0x6C, 0x2B, 0x5A, 0x78,
         0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 7,    0,    20,   0}) +
          "a/b.txt" + B({1, 0, 16, 0}) + Le(uint64_t{1} << 32, 8) + Le(0x100, 8));
  EXPECT_EQ(h.LocalHeaderSize(), 57);
  TMemoryStream in(local.Bytes());
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadLocalFromStream(in));
  EXPECT_EQ(back.UncompressedSize, int64_t{1} << 32);
  EXPECT_EQ(back.CompressedSize, 0x100);
  EXPECT_TRUE(back.Zip64Sizes);

  // A header that announces a ZIP64 value it does not hold is refused.
  Bytes cut = local.Bytes();
  cut[28] = 12;
  cut[39] = 8;
  cut.resize(cut.size() - 8);
  TMemoryStream bad(cut);
  EXPECT_FALSE(back.ReadLocalFromStream(bad));
  EXPECT_EQ(bad.Position(), 0);
}

TEST(ZipRecordsZip64, EndRecordsWhenCountsOrPositionsDoNotFit) {
  struct Case {
    const char* what;
    int64_t entries, size, offset;
    bool forced;
  };
  for (const Case& c :
       {Case{"entries", 70000, 0x35, 0x1234, false},
        Case{"offset", 1, 0x35, int64_t{5} << 30, false}, Case{"forced", 1, 0x35, 0x1234, true},
        // Exactly at each limit: the all-ones classic value means "see ZIP64".
        Case{"0xFFFF entries", 0xFFFF, 0x35, 0x1234, false},
        Case{"offset 0xFFFFFFFF", 1, 0x35, 0xFFFFFFFF, false},
        Case{"size 0xFFFFFFFF", 1, 0xFFFFFFFF, 0x1234, false}}) {
    SCOPED_TRACE(c.what);
    TEndCentral e;
    e.EntriesThisDisk = e.TotalEntries = c.entries;
    e.CentralSize = c.size;
    e.CentralDirOffset = c.offset;
    e.Zip64 = c.forced;
    TMemoryStream out;
    out.Write("0123456789", 10);
    e.SaveEndToStream(out);
    const Bytes& bytes = out.Bytes();
    ASSERT_EQ(bytes.size(), 10u + 56 + 20 + 22);
    EXPECT_EQ(e.EndCentralSize(), 98);
    EXPECT_EQ(Bytes(bytes.begin() + 10, bytes.begin() + 66),
              B({0x50, 0x4B, 0x06, 0x06}) + Le(44, 8) + B({45, 0, 45, 0}) + Le(0, 8) +
                  Le(static_cast<uint64_t>(c.entries), 8) +
                  Le(static_cast<uint64_t>(c.entries), 8) + Le(static_cast<uint64_t>(c.size), 8) +
                  Le(static_cast<uint64_t>(c.offset), 8));
    EXPECT_EQ(Bytes(bytes.begin() + 66, bytes.begin() + 86),
              B({0x50, 0x4B, 0x06, 0x07, 0, 0, 0, 0}) + Le(10, 8) + Le(1, 4));
    const uint64_t classicEntries = c.entries >= 0xFFFF ? 0xFFFF : c.entries;
    const uint64_t classicOffset = c.offset >= 0xFFFFFFFF ? 0xFFFFFFFF : c.offset;
    const uint64_t classicSize = c.size >= 0xFFFFFFFF ? 0xFFFFFFFF : c.size;
    EXPECT_EQ(Bytes(bytes.begin() + 86, bytes.end()),
              B({0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0}) + Le(classicEntries, 2) +
                  Le(classicEntries, 2) + Le(classicSize, 4) + Le(classicOffset, 4) + B({0, 0}));
    TMemoryStream in(bytes);
    TEndCentral back;
    ASSERT_TRUE(back.ReadEndFromStream(in));
    EXPECT_TRUE(back.Zip64);
    EXPECT_EQ(back.TotalEntries, c.entries);
    EXPECT_EQ(back.EntriesThisDisk, c.entries);
    EXPECT_EQ(back.CentralDirOffset, c.offset);
    EXPECT_EQ(back.CentralSize, c.size);
  }
  // Values that fit keep the classic record alone.
  TEndCentral small;
  small.TotalEntries = small.EntriesThisDisk = 0xFFFE;
  small.CentralSize = small.CentralDirOffset = 0xFFFFFFFE;
  TMemoryStream out;
  small.SaveEndToStream(out);
  EXPECT_EQ(out.Size(), 22);
}

// Every value alone either side of its classic field's all-ones value, which
// readers already take as "see the ZIP64 record": one less stays classic,
// all ones and beyond go to ZIP64, and a local header without room for the
// ZIP64 sizes refuses them.
TEST(ZipRecordsZip64, EachValueLeavesItsClassicFieldAtAllOnes) {
  const auto get32 = [](const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
  };
  struct HeaderValue {
    const char* what;
    int64_t TZipHeaderInfo::*value;
    size_t centralAt, localAt;  // the classic field; no local one for the offset
  };
  for (const HeaderValue& f :
       {HeaderValue{"uncompressed", &TZipHeaderInfo::UncompressedSize, 24, 22},
        {"compressed", &TZipHeaderInfo::CompressedSize, 20, 18},
        {"offset", &TZipHeaderInfo::RelativeOffset, 42, 0}}) {
    for (const int64_t v : {int64_t{0xFFFFFFFE}, int64_t{0xFFFFFFFF}, int64_t{0x100000000}}) {
      SCOPED_TRACE(std::string(f.what) + " " + std::to_string(v));
      const bool big = v >= 0xFFFFFFFF;
      TZipHeaderInfo h = SampleHeader();
      h.*f.value = v;
      EXPECT_EQ(h.SizesNeedZip64(), big && f.localAt != 0);
      TMemoryStream central;
      h.SaveCentralToStream(central);
      EXPECT_EQ(get32(central.Bytes(), f.centralAt), big ? 0xFFFFFFFF : v);
      EXPECT_EQ(central.Bytes()[30], big ? 12 : 0);  // the ZIP64 field holds this value alone
      EXPECT_EQ(central.Bytes()[6], big ? 45 : 20);
      if (f.localAt == 0) continue;
      TZipHeaderInfo fresh = SampleHeader();
      fresh.*f.value = v;
      TMemoryStream local;
      if (big) {
        EXPECT_THROW(fresh.SaveLocalToStream(local), EZipFieldOverflow);
      } else {
        fresh.SaveLocalToStream(local);
        EXPECT_EQ(get32(local.Bytes(), f.localAt), v);
      }
    }
  }
  struct EndValue {
    const char* what;
    int64_t TEndCentral::*value;
    int64_t allOnes;
  };
  for (const EndValue& f : {EndValue{"entries on this disk", &TEndCentral::EntriesThisDisk, 0xFFFF},
                            {"total entries", &TEndCentral::TotalEntries, 0xFFFF},
                            {"central size", &TEndCentral::CentralSize, 0xFFFFFFFF},
                            {"central offset", &TEndCentral::CentralDirOffset, 0xFFFFFFFF}}) {
    for (const int64_t v : {f.allOnes - 1, f.allOnes, f.allOnes + 1}) {
      SCOPED_TRACE(std::string(f.what) + " " + std::to_string(v));
      TEndCentral e;
      e.EntriesThisDisk = e.TotalEntries = 1;
      e.CentralSize = 0x35;
      e.CentralDirOffset = 0x1234;
      e.*f.value = v;
      EXPECT_EQ(e.NeedsZip64(), v >= f.allOnes);
      TMemoryStream out;
      e.SaveEndToStream(out);
      EXPECT_EQ(out.Size(), v >= f.allOnes ? 98 : 22);
    }
  }
}

struct NameCase {
  const char* directory;
  const char* fileName;
  std::string stored;
  bool utf8;
  std::string unicode;  // the Unicode Path field's name; empty: no field
};

TEST(ZipRecordsNames, StoredInCodePage437OrFlaggedUtf8) {
  const NameCase cases[] = {
      {"", "plain.mdf", "plain.mdf", false, ""},
      {"", "caf\xC3\xA9.mdf", "caf\x82.mdf", false, "caf\xC3\xA9.mdf"},    // é is 0x82
      {"sub", "\xCE\xA9.gdb", "sub/\xEA.gdb", false, "sub/\xCE\xA9.gdb"},  // Ω is 0xEA
      {"",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA.mdf",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA.mdf",
       true,
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA.mdf"},  // Łódź
      // Not UTF-8: byte for byte, and read as code page 437 (nbsp, black square).
      {"", "bad\xFF\xFE.mdf", "bad\xFF\xFE.mdf", false, "bad\xC2\xA0\xE2\x96\xA0.mdf"},
      {"x/y/", "z", "x/y/z", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileName);
    TZipHeaderInfo h;
    h.SetDirectory(c.directory);
    h.SetFileName(c.fileName);
    // The encoder assigns the deflate option bits without knowing bit 11.
    h.GeneralPurposeFlags = 4;
    TMemoryStream local, central;
    h.SaveLocalToStream(local);
    h.SaveCentralToStream(central);
    const uint16_t expectedFlags = c.utf8 ? 0x0804 : 0x0004;
    const auto& l = local.Bytes();
    const auto& z = central.Bytes();
    EXPECT_EQ(l[6] | l[7] << 8, expectedFlags);
    EXPECT_EQ(z[8] | z[9] << 8, expectedFlags);
    EXPECT_EQ(h.FileNameLength(), c.stored.size());
    EXPECT_EQ(l[26] | l[27] << 8, static_cast<int>(c.stored.size()));
    const auto nameEnd = static_cast<ptrdiff_t>(c.stored.size());
    EXPECT_EQ(std::string(l.begin() + 30, l.begin() + 30 + nameEnd), c.stored);
    EXPECT_EQ(std::string(z.begin() + 46, z.begin() + 46 + nameEnd), c.stored);
    // Both headers end in the same Unicode Path field: tag, size, version,
    // CRC-32 of the stored name, the name in UTF-8.
    std::string field;
    if (!c.unicode.empty()) {
      const uint32_t crc = Crc32(c.stored);
      field = std::string("\x75\x70", 2) + char(5 + c.unicode.size()) + '\0' + '\1';
      for (int i = 0; i < 4; ++i) field += static_cast<char>(crc >> (8 * i));
      field += c.unicode;
    }
    EXPECT_EQ(std::string(l.begin() + 30 + nameEnd, l.end()), field);
    EXPECT_EQ(std::string(z.begin() + 46 + nameEnd, z.end()), field);
    EXPECT_EQ(l[28] | l[29] << 8, static_cast<int>(field.size()));
    EXPECT_EQ(h.LocalHeaderSize(), static_cast<int64_t>(l.size()));

    TZipHeaderInfo back;
    central.Seek(0, soFromBeginning);
    ASSERT_TRUE(back.ReadCentralFromStream(central));
    if (c.stored != "bad\xFF\xFE.mdf") {
      EXPECT_EQ(back.Directory() + back.FileName(), h.Directory() + h.FileName());
    }
    EXPECT_EQ(back.StoredName(), c.stored);
  }
}

TEST(ZipRecordsNames, DirectoryGetsItsSeparator) {
  TZipHeaderInfo h;
  h.SetFileName("f.mdf");
  h.SetDirectory("data");
  EXPECT_EQ(h.Directory(), "data/");
  EXPECT_EQ(h.StoredName(), "data/f.mdf");
  EXPECT_EQ(h.FileNameLength(), 10u);
  h.SetDirectory("");
  EXPECT_EQ(h.StoredName(), "f.mdf");
  EXPECT_EQ(h.FileNameLength(), 5u);
}

TEST(ZipRecordsRead, HeadersReadBackWithTheirFieldsAndPosition) {
  TZipHeaderInfo h = SampleHeader();
  h.InternalAttributes = 0;
  h.ExternalAttributes = 0x21;
  h.SetFileComment("note");
  TMemoryStream s;
  s.Write("pad", 3);
  h.SaveLocalToStream(s);
  s.Write("DATA", 4);
  const int64_t centralAt = s.Position();
  h.SaveCentralToStream(s);

  TZipHeaderInfo local;
  s.Seek(3, soFromBeginning);
  ASSERT_TRUE(local.ReadLocalFromStream(s));
  EXPECT_EQ(s.Position(), 3 + 37);  // at the entry's data
  EXPECT_EQ(local.RelativeOffset, 3);
  EXPECT_EQ(local.VersionMadeBy, 0);
  EXPECT_EQ(local.ExternalAttributes, 0u);
  EXPECT_EQ(local.CRC32, 0x12345678u);
  EXPECT_EQ(local.CompressedSize, 0x100);
  EXPECT_EQ(local.UncompressedSize, 0x2345);
  EXPECT_EQ(local.Directory(), "a/");
  EXPECT_EQ(local.FileName(), "b.txt");

  TZipHeaderInfo central;
  s.Seek(centralAt, soFromBeginning);
  ASSERT_TRUE(central.ReadCentralFromStream(s));
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(central.CentralOffset, centralAt);
  EXPECT_EQ(central.RelativeOffset, 3);
  EXPECT_EQ(central.VersionMadeBy, 20);
  EXPECT_EQ(central.ExternalAttributes, 0x21u);
  EXPECT_EQ(central.LastModDateTime, 0x5A2B6C3Du);
  EXPECT_EQ(central.FileComment(), "note");

  // Writing the read record again gives the same bytes.
  TMemoryStream again;
  central.RelativeOffset = 3;
  central.SaveCentralToStream(again);
  EXPECT_EQ(again.Bytes(), Bytes(s.Bytes().begin() + centralAt, s.Bytes().end()));
}

TEST(ZipRecordsRead, ExtraFieldIsSkippedAndNotAnnounced) {
  TZipHeaderInfo h = SampleHeader();
  TMemoryStream s;
  h.SaveLocalToStream(s);
  Bytes bytes = s.Bytes();
  bytes[28] = 4;  // extra field length
  bytes.insert(bytes.end(), {'e', 'x', 't', 'r', 'D'});
  TMemoryStream in(bytes);
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadLocalFromStream(in));
  EXPECT_EQ(back.ExtraFieldLength, 0);
  char next;
  in.Read(&next, 1);
  EXPECT_EQ(next, 'D');
}

TEST(ZipRecordsRead, FailureRestoresPositionAndRecord) {
  TZipHeaderInfo h = SampleHeader();
  TMemoryStream good;
  h.SaveCentralToStream(good);
  const Bytes full = good.Bytes();
  const Bytes cases[] = {
      Bytes(full.begin(), full.begin() + 45),       // header cut short
      Bytes(full.begin(), full.end() - 1),          // name cut short
      B({'P', 'K', 3, 4}) + std::string(60, '\0'),  // a local header's signature
  };
  for (const auto& bytes : cases) {
    TMemoryStream in(bytes);
    in.Seek(0, soFromBeginning);
    TZipHeaderInfo rec;
    rec.SetFileName("untouched");
    EXPECT_FALSE(rec.ReadCentralFromStream(in));
    EXPECT_EQ(in.Position(), 0);
    EXPECT_EQ(rec.FileName(), "untouched");
    EXPECT_EQ(rec.CRC32, 0xFFFFFFFFu);
  }
}

TEST(ZipRecordsRead, EndRecordFoundBehindACommentAndNotWithoutOne) {
  TMemoryStream archive;
  BuildArchive(archive, {{"one.txt", "hello"}});
  TEndCentral plain;
  ASSERT_TRUE(plain.ReadEndFromStream(archive));
  EXPECT_EQ(plain.TotalEntries, 1);

  // The same archive with a comment.
  TMemoryStream commented;
  TEndCentral written;
  BuildArchive(commented, {{"one.txt", "hello"}});
  commented.Seek(-22, soFromEnd);
  written.CopyFrom(plain);
  written.SetZipComment("archive note");
  written.SaveEndToStream(commented);
  TEndCentral found;
  ASSERT_TRUE(found.ReadEndFromStream(commented));
  EXPECT_EQ(found.ZipComment(), "archive note");
  EXPECT_EQ(found.ZipCommentPos, commented.Size() - 12);
  EXPECT_EQ(found.CentralDirOffset, plain.CentralDirOffset);

  // Bytes without a record, and a file too short to hold one.
  for (const Bytes& bytes : {Bytes(5000, 'P'), Bytes(21, 0)}) {
    TMemoryStream none(bytes);
    TEndCentral untouched;
    untouched.TotalEntries = 7;
    EXPECT_FALSE(untouched.ReadEndFromStream(none));
    EXPECT_EQ(untouched.TotalEntries, 7);
  }
}

TEST(ZipRecordsRead, DirectoryOfAnArchiveAndItsFailures) {
  TMemoryStream archive;
  BuildArchive(archive, {{"one.txt", "hello"}, {"two.txt", "world!"}});
  TEndCentral end;
  TSortedZip entries = ReadZipDirectory(archive, end);
  ASSERT_EQ(entries.Count(), 2);
  EXPECT_EQ(entries[0]->FileName(), "one.txt");
  EXPECT_EQ(entries[1]->FileName(), "two.txt");
  EXPECT_EQ(entries[1]->RelativeOffset, 30 + 7 + 5);
  EXPECT_EQ(entries[1]->CompressionMethod, 0);

  TMemoryStream garbage(Bytes(100, 'x'));
  try {
    ReadZipDirectory(garbage, end);
    FAIL();
  } catch (const EIncompleteZip& e) {
    EXPECT_EQ(e.Message(), "Incomplete Zip File");
  }

  // The end record counts three entries where two are.
  Bytes bytes = archive.Bytes();
  bytes[bytes.size() - 22 + 10] = 3;
  TMemoryStream miscounted(bytes);
  try {
    ReadZipDirectory(miscounted, end);
    FAIL();
  } catch (const EBadZipFile& e) {
    EXPECT_EQ(e.Message(), "Not a valid zip file!");
  }
  // The directory offset points into the data.
  bytes = archive.Bytes();
  bytes[bytes.size() - 22 + 16] = 2;
  TMemoryStream misplaced(bytes);
  EXPECT_THROW(ReadZipDirectory(misplaced, end), EBadZipFile);
}

TEST(ZipRecordsDate, RepairClampsEachPartAndPassesValidValuesThrough) {
  struct {
    uint32_t in, out;
  } const cases[] = {
      {0x5A2B6C3D, 0x5A2B6C3D},  // 2025-01-11 13:33:58, valid
      {0x5A2BC000, 0x5A2BC000},  // hour 24 is not above 24
      {0x5A2BF800, 0x5A2BC000},  // hour 31 -> 24
      {0x5A2B07E0, 0x5A2B0760},  // minute 63 -> 59
      {0x5A2B001F, 0x5A2B001D},  // 62 seconds -> 58 (field 29)
      {0x5A2B001E, 0x5A2B001D},  // 60 seconds -> 58
      {0xFE210000, 0xEE210000},  // 2107 -> 2099
      {0x5BAB0000, 0x5B8B0000},  // month 13 -> 12
      {0x5A0B0000, 0x5A2B0000},  // month 0 -> 1
      {0x5A200000, 0x5A210000},  // day 0 -> 1
      {0x00000000, 0x00210000},  // all zero: month and day -> 1
      {0x005E0000, 0x005E0000},  // February 30th is no part out of range
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RepairDosDateTime(c.in), c.out) << std::hex << c.in;
  }
}

TEST(ZipRecordsCopy, CopyTakesEveryFieldNamesCommentAndState) {
  TZipHeaderInfo h = SampleHeader();
  h.SetFileComment("c");
  h.EntryState = {1, 2};
  TZipHeaderInfo copy;
  copy.CopyFrom(h);
  EXPECT_EQ(copy.StoredName(), "a/b.txt");
  EXPECT_EQ(copy.FileComment(), "c");
  EXPECT_EQ(copy.EntryState[1], 2);
  EXPECT_EQ(copy.CRC32, 0x12345678u);
  copy.Clear();
  EXPECT_EQ(copy.FileNameLength(), 0u);
  EXPECT_EQ(copy.FileCommentLength(), 0u);
  EXPECT_EQ(copy.ExternalAttributes, 0x20u);
  EXPECT_EQ(h.FileComment(), "c");
}

// A hand-built archive is exactly the sum of its records, and other tools
// accept it and read the names back.
TEST(ZipRecordsArchive, HandBuiltArchiveIsWholeAndReadableByOtherTools) {
  const std::string path = TempPath("hand.zip");
  const std::string content = "Tamblewick remote database\n";
  {
    TFileStream file(path, fmCreate);
    BuildArchive(file, {{"db.mdf", content}});
  }
  EXPECT_EQ(TFileStream(path, fmOpenReadShared).Size(),
            30 + 6 + static_cast<int64_t>(content.size()) + 46 + 6 + 22);

  const std::string names = TempPath("names.zip");
  {
    TFileStream file(names, fmCreate);
    BuildArchive(file, {{"plain.mdf", "a"},
                        {"caf\xC3\xA9.mdf", "b"},
                        {"\xC5\x81\xC3\xB3"
                         "d\xC5\xBA.mdf",
                         "c"}});
  }
  if (std::system("python3 -c '' 2>/dev/null") == 0) {
    const auto [out, status] = RunCommand(
        "PYTHONIOENCODING=utf-8 python3 -c \"import sys, zipfile; z = "
        "zipfile.ZipFile(sys.argv[1]); "
        "assert z.testzip() is None; print(' '.join(z.namelist()))\" " +
        names);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out,
              "plain.mdf caf\xC3\xA9.mdf \xC5\x81\xC3\xB3"
              "d\xC5\xBA.mdf\n");
  }
  if (std::system("unzip -v >/dev/null 2>&1") == 0) {
    EXPECT_EQ(RunCommand("unzip -tq " + path).second, 0);
    EXPECT_EQ(RunCommand("unzip -tq " + names).second, 0);
  }
}

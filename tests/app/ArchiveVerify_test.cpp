// The read-back of --verify: a byte of the archive's records changed after
// it was written fails it, wherever the byte is; and the check of an archive
// without the writer's bytes names what is wrong.
#include "ArchiveVerify.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "Crc32.h"
#include "Streams.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace {

void Flip(int fd, off_t at) {
  unsigned char byte = 0;
  ASSERT_EQ(::pread(fd, &byte, 1, at), 1);
  byte ^= 0x20;
  ASSERT_EQ(::pwrite(fd, &byte, 1, at), 1);
}

// A deflated archive, and a stored one with the ZIP64 end records, a comment
// and a name that takes a Unicode path field in both headers.
TEST(ArchiveVerifyTest, EveryByteOfTheRecordsIsChecked) {
  struct Case {
    const char* name;
    bool zip64;
    const char* comment;
    int level;
  };
  for (const Case c : {Case{"a.mdf", false, "", 6}, Case{"\xc3\xa9t\xc3\xa9.mdf", true, "c", 0}}) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    std::string rows;
    for (int i = 0; rows.size() < 20000; ++i)
      rows += "row " + std::to_string(i * 7919 % 1000) + "\n";
    const int fd = ::open(tree.Path("a.zip").c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    TZipWriter writer;
    writer.FilesList = {tree.File(c.name, rows)};
    writer.SetZipName(tree.Path("a.zip"));
    writer.FreshArchive = true;
    writer.OutputHandle = fd;
    writer.LiteralNames = true;
    writer.PackLevel = c.level;
    writer.OnStartZipInfo = [&](TObject*, int, int64_t, TEndCentral& end, bool&) {
      end.Zip64 = c.zip64;
      end.SetZipComment(c.comment);
    };
    ASSERT_EQ(writer.Zip(), 1);
    const int64_t size = ::lseek(fd, 0, SEEK_END);
    ASSERT_EQ(VerifyArchive(fd, writer, int64_t(rows.size())), "");
    // The records the writer gives are everything but the data.
    const auto& records = writer.WrittenRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].offset, 0);
    EXPECT_EQ(int64_t(records[0].bytes.size()) + writer.ArchiveEntries()[0]->CompressedSize,
              records[1].offset);
    EXPECT_EQ(records[1].offset + int64_t(records[1].bytes.size()), size);
    EXPECT_EQ(records[1].bytes.find("PK\x06\x07") != std::string::npos, c.zip64);

    for (const TWrittenRecord& r : records) {
      for (off_t at = r.offset; at < r.offset + off_t(r.bytes.size()); ++at) {
        Flip(fd, at);
        EXPECT_NE(VerifyArchive(fd, writer, int64_t(rows.size())), "") << "byte " << at;
        Flip(fd, at);
      }
    }
    EXPECT_NE(VerifyArchive(fd, writer, int64_t(rows.size()) + 1), "");
    ASSERT_EQ(VerifyArchive(fd, writer, int64_t(rows.size())), "");

    // Without the writer's bytes: the fields that readers refuse are named.
    if (!c.zip64) {
      const off_t end = size - 22, central = records[1].offset;
      for (const auto& [at, says] :
           {std::pair{end + 4, "the end record's number of this disk at offset " +
                                   std::to_string(end + 4) + " is 32, not 0"},
            std::pair{end + 8, "the end record's entries on this disk at offset " +
                                   std::to_string(end + 8) + " is 33, not 1"},
            std::pair{end + 20, "the end record's comment length at offset " +
                                    std::to_string(end + 20) +
                                    " is 32, but the bytes that follow it are 0"},
            std::pair{central + 34, "the central header's disk number start at offset " +
                                        std::to_string(central + 34) + " is 32, not 0"}}) {
        Flip(fd, at);
        TFileStream stream(fd, "a.zip");
        TArchiveFacts facts;
        EXPECT_EQ(CheckArchive(stream, facts), says);
        Flip(fd, at);
      }
    }
    ::close(fd);
  }
}

// The shape of an entry of 4 GiB or more, made small: the local header holds
// both sizes in its ZIP64 field, the central header its classic fields.
TEST(ArchiveVerifyTest, TheCheckTakesALocalHeaderWithZip64Sizes) {
  const std::string data = "stored bytes";
  TMemoryStream archive;
  TZipHeaderInfo header;
  header.SetFileName("big.mdf");
  header.CompressionMethod = 0;
  header.CRC32 = Crc32(data.data(), data.size());
  header.CompressedSize = header.UncompressedSize = int64_t(data.size());
  header.Zip64Sizes = true;
  header.SaveLocalToStream(archive);
  archive.Write(data.data(), int64_t(data.size()));
  TEndCentral end;
  end.CentralDirOffset = archive.Position();
  header.SaveCentralToStream(archive);
  end.CentralSize = archive.Position() - end.CentralDirOffset;
  end.EntriesThisDisk = end.TotalEntries = 1;
  end.SaveEndToStream(archive);
  TArchiveFacts facts;
  ASSERT_EQ(CheckArchive(archive, facts), "");
  EXPECT_EQ(facts.dataOffset, 30 + 7 + 20);
  EXPECT_EQ(facts.uncompressedSize, int64_t(data.size()));
}

}  // namespace

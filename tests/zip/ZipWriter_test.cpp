// The archive writer writing new archives: the records the independent
// readers see, the progress it reports, and how it ends when something fails.
#include <sys/socket.h>
#include <sys/un.h>

#include "Crc32.h"
#include "Errors.h"
#include "Files.h"
#include "WriterFixture.h"

namespace {

using namespace writer_test;

struct Expected {
  uint64_t method;
  uint64_t internal;
  uint64_t flags;
};

// Checks a one-entry archive written from source through all four readers
// and returns the entry's compressed size.
int64_t ExpectSingleEntry(const std::string& archive, const std::string& source,
                          const Expected& want) {
  const std::string content = ReadAll(source);
  const std::string name = ExtractFileName(source);
  const ac::Report r = ac::CheckArchive(archive);
  EXPECT_TRUE(r.ok) << r.log;
  if (r.entries.size() != 1) {
    ADD_FAILURE() << "entries: " << r.entries.size();
    return -1;
  }
  const ac::Entry& e = r.entries[0];
  EXPECT_EQ(e.name, name);
  EXPECT_EQ(e.Num("create_version"), 20u);
  EXPECT_EQ(e.Num("create_system"), 0u);
  EXPECT_EQ(e.Num("extract_version"), 20u);
  EXPECT_EQ(e.Num("flags"), want.flags);
  EXPECT_EQ(e.Num("method"), want.method);
  EXPECT_EQ(e.Num("dostime"), DosTimeOf(source));
  EXPECT_EQ(e.Num("crc"), Crc32(content.data(), content.size()));
  EXPECT_EQ(e.Num("usize"), content.size());
  if (want.method == 0) {
    EXPECT_EQ(e.Num("csize"), content.size());
  }
  EXPECT_EQ(e.Num("internal"), want.internal);
  EXPECT_EQ(e.Num("external"), 0x20u);
  EXPECT_EQ(e.Num("offset"), 0u);
  EXPECT_EQ(e.Hex("extra"), "");
  // The local header carries the final values; nothing announces a descriptor.
  EXPECT_EQ(e.Num("local_signature"), 0x04034B50u);
  EXPECT_EQ(e.Num("local_version"), 20u);
  for (const char* key : {"flags", "method", "dostime", "crc", "csize", "usize"})
    EXPECT_EQ(e.Num(std::string("local_") + key), e.Num(key)) << key;
  EXPECT_EQ(e.Hex("local_extra"), "");
  const auto csize = static_cast<int64_t>(e.Num("csize"));
  EXPECT_EQ(static_cast<int64_t>(r.size), OneEntryArchiveSize(name.size(), csize));
  EXPECT_EQ(r.eocd, (std::vector<uint64_t>{1, 1, 46 + name.size(),
                                           static_cast<uint64_t>(30 + name.size() + csize), 0,
                                           r.size - 22}));
  EXPECT_FALSE(r.zip64);
  const std::vector<std::string> names{name};
  EXPECT_EQ(r.unzipNames, names);
  EXPECT_EQ(r.sevenZipNames, names);
  EXPECT_EQ(r.bsdtarNames, names);
  return csize;
}

// The 22-byte archive of a run that added nothing.
void ExpectEmptyArchive(const std::string& archive) {
  const std::string bytes = ReadAll(archive);
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  const ac::Report r = ac::CheckArchive(archive);
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_TRUE(r.entries.empty());
}

// --- Progress ---

TEST(PercentOf, RoundsToNearestWithTiesToEvenAndNeverPassesHundred) {
  struct Case {
    int64_t done, total;
    int percent;
  };
  for (const Case& c :
       {Case{1, 200, 0}, Case{3, 200, 2}, Case{5, 200, 2}, Case{7, 200, 4}, Case{199, 200, 100},
        Case{197, 200, 98}, Case{1, 3, 33}, Case{2, 3, 67}, Case{16000, 100000, 16},
        Case{200, 200, 100}, Case{250, 200, 100}, Case{0, 200, 0}, Case{5, 0, 0}, Case{5, -1, 0},
        Case{int64_t{1} << 62, (int64_t{1} << 62) + 1, 100},
        Case{(int64_t{1} << 61), (int64_t{1} << 62), 50}}) {
    EXPECT_EQ(PercentOf(c.done, c.total), c.percent) << c.done << " of " << c.total;
  }
}

class WriterRun : public WriterTest {};

TEST_F(WriterRun, StoredFileReportsEverySixteenThousandBytes) {
  const std::string source = tree.File("in/Stored.bin", RandomBytes(100000));
  const std::string archive = tree.Path("out.zip");
  std::vector<int> filePercents;
  writer.OnFilePercentDone = [&](TObject*, int percent) { filePercents.push_back(percent); };
  EXPECT_EQ(ZipOne(archive, source, 0), 1);
  EXPECT_EQ(percents, (std::vector<int>{16, 32, 48, 64, 80, 96, 100}));
  EXPECT_EQ(filePercents, percents);
  EXPECT_EQ(completions, std::vector<int>{1});
  EXPECT_EQ(ExpectSingleEntry(archive, source, {0, 0, 0}), 100000);
  EXPECT_EQ(writer.ArchiveEntries().Count(), 1);
  EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(WriterRun, EmptyFileBecomesAnEntryWithoutProgress) {
  const std::string source = tree.File("empty.mdf");
  const std::string archive = tree.Path("empty.zip");
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    percents.clear();
    DeleteFile(archive);
    EXPECT_EQ(ZipOne(archive, source, level), 1);
    EXPECT_TRUE(percents.empty());
    // Stored by the writer (binary) or by the encoder (text, level bits kept).
    const Expected want = level == 0 ? Expected{0, 0, 0} : Expected{0, 1, 0};
    EXPECT_EQ(ExpectSingleEntry(archive, source, want), 0);
    EXPECT_EQ(ac::CheckArchive(archive, ac::kZipfile).entries[0].Num("crc"), 0u);
  }
}

struct LevelCase {
  int level;
  uint64_t flags;
};

class WriterLevels : public WriterTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(WriterLevels, DeflatedEntriesCarryTheLevelBitsAndVerify) {
  const LevelCase c = GetParam();
  const std::string text = tree.File("text.mdf", TextBytes(300000));
  const std::string noise = tree.File("noise.mdf", RandomBytes(70000, 7));
  const std::string archive = tree.Path("a.zip");
  EXPECT_EQ(ZipOne(archive, text, c.level), 1);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  const int64_t packed = ExpectSingleEntry(archive, text, {8, 1, c.flags});
  EXPECT_LT(packed, 300000 / 10);

  DeleteFile(archive);
  EXPECT_EQ(ZipOne(archive, noise, c.level), 1);
  const ac::Report r = ac::CheckArchive(archive);
  ASSERT_TRUE(r.ok) << r.log;
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].Num("flags"), c.flags);
  EXPECT_EQ(r.entries[0].Num("internal"), 0u);
  EXPECT_EQ(r.entries[0].Num("usize"), 70000u);
}

INSTANTIATE_TEST_SUITE_P(Levels, WriterLevels,
                         ::testing::Values(LevelCase{1, 4}, LevelCase{2, 4}, LevelCase{3, 0},
                                           LevelCase{5, 0}, LevelCase{7, 0}, LevelCase{8, 2},
                                           LevelCase{9, 2}));

// Threads parsing each entry change neither the archive nor the progress the
// writer reports (the reads keep their sizes and order). The encoder's memory
// is kept from one archive to the next, as a run keeps it, across levels and
// thread counts.
TEST_F(WriterRun, ParsingThreadsWriteTheSameArchive) {
  std::string content = TextBytes(1500000) + RandomBytes(300000, 9) + TextBytes(1200000);
  const std::string source = tree.File("big.mdf", content);
  writer.KeepEncoderMemory = true;
  for (int level : {4, 9}) {
    std::string archives[2];
    std::vector<int> progress[2];
    for (int threads : {0, 3}) {
      const int side = threads == 0 ? 0 : 1;
      archives[side] = tree.Path("t" + std::to_string(threads) + ".zip");
      writer.Threads = static_cast<unsigned>(threads);
      writer.SecondThread = threads != 0;
      percents.clear();
      ASSERT_EQ(ZipOne(archives[side], source, level), 1);
      progress[side] = percents;
    }
    EXPECT_EQ(ReadAll(archives[1]), ReadAll(archives[0])) << "level " << level;
    EXPECT_EQ(progress[1], progress[0]) << "level " << level;
    // Binary: the first block, all long matches, reaches into the noise.
    ExpectSingleEntry(archives[1], source, {8, 0, level == 9 ? 2u : 0u});
    DeleteFile(archives[0]);
    DeleteFile(archives[1]);
  }
  writer.ReleaseEncoderMemory();
}

// --- Files that do not become entries ---

// A path that exists as a file but that no one can open, root included.
std::string UnopenableFile(const TempTree& tree, const std::string& name) {
  const std::string path = tree.Path(name);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::string();
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return std::string();
  }
  ::close(fd);
  return path;
}

TEST_F(WriterRun, UnopenableSourceGivesAnArchiveWithoutEntries) {
  std::vector<std::string> sources;
  sources.push_back(UnopenableFile(tree, "held.mdf"));
  ASSERT_FALSE(sources.back().empty());
  if (::geteuid() != 0) {
    sources.push_back(tree.File("locked.mdf", "secret"));
    ::chmod(sources.back().c_str(), 0);
  }
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::string archive = tree.Path("held.zip");
    DeleteFile(archive);
    skips.clear();
    completions.clear();
    EXPECT_EQ(ZipOne(archive, source, 9), 0);
    EXPECT_EQ(completions, std::vector<int>{0});
    ASSERT_EQ(skips.size(), 1u);
    EXPECT_EQ(skips[0].reason, TSkipReason::srNoOpen);
    EXPECT_EQ(skips[0].name, source);
    EXPECT_EQ(skips[0].index, -1);
    ExpectEmptyArchive(archive);
  }
}

TEST_F(WriterRun, NothingToAddGivesAnArchiveWithoutEntries) {
  const std::string archive = tree.Path("none.zip");
  writer.SetZipName(archive);
  EXPECT_EQ(writer.Zip(), 0);
  EXPECT_EQ(completions, std::vector<int>{0});
  ExpectEmptyArchive(archive);

  // A listed file that is gone by the time the list is expanded.
  std::vector<std::string> missing;
  writer.OnNoSuchFile = [&](TObject*, const std::string& name) { missing.push_back(name); };
  DeleteFile(archive);
  EXPECT_EQ(ZipOne(archive, tree.Path("gone.mdf"), 6), 0);
  EXPECT_EQ(missing, std::vector<std::string>{tree.Path("gone.mdf")});
  ExpectEmptyArchive(archive);
}

TEST_F(WriterRun, SecondFileOfTheSameStoredNameIsSkipped) {
  const std::string a = tree.File("one/data.mdf", TextBytes(30000));
  const std::string b = tree.File("two/data.mdf", RandomBytes(50000));
  const std::string archive = tree.Path("dup.zip");
  for (const auto& second : {a, b}) {
    SCOPED_TRACE(second);
    DeleteFile(archive);
    percents.clear();
    skips.clear();
    writer.FilesList = {a, second};
    writer.SetZipName(archive);
    writer.PackLevel = 0;
    EXPECT_EQ(writer.Zip(), 1);
    ASSERT_EQ(skips.size(), 1u);
    EXPECT_EQ(skips[0].reason, TSkipReason::srDuplicate);
    EXPECT_EQ(skips[0].name, second);
    EXPECT_EQ(writer.TotalBytes(), 30000);
    EXPECT_EQ(percents.back(), 100);
    ExpectSingleEntry(archive, a, {0, 0, 0});
  }
}

TEST_F(WriterRun, TwoRunsWithOneNameWriteAFreshArchiveInPlace) {
  const std::string first = tree.File("a/db.mdf", TextBytes(5000));
  const std::string second = tree.File("b/db.mdf", TextBytes(3000));
  const std::string archive = tree.Path("db.zip");
  EXPECT_EQ(ZipOne(archive, first, 6), 1);
  DeleteFile(archive);
  EXPECT_EQ(ZipOne(archive, second, 6), 1);
  ExpectSingleEntry(archive, second, {8, 1, 0});
  EXPECT_EQ(TempFilesLeft(), 0u);
  EXPECT_EQ(completions, (std::vector<int>{1, 1}));
}

TEST_F(WriterRun, EventsSeeEachFileAndMayStopTheRun) {
  const std::string a = tree.File("a.mdf", TextBytes(1000));
  const std::string b = tree.File("b.mdf", TextBytes(2000));
  const std::string archive = tree.Path("ev.zip");
  std::vector<std::string> ended;
  int infoCalls = 0;
  writer.OnStartZipInfo = [&](TObject*, int numFiles, int64_t totalBytes, TEndCentral&, bool&) {
    ++infoCalls;
    EXPECT_EQ(numFiles, 2);
    EXPECT_EQ(totalBytes, 3000);
  };
  writer.OnStartZip = [&](TObject*, const std::string& name, TZipHeaderInfo& header, bool& skip) {
    EXPECT_EQ(header.FileName(), ExtractFileName(name));
    skip = name == a;
  };
  writer.OnEndZip = [&](TObject*, const std::string& name, int64_t unpacked, int64_t packed,
                        int64_t zipSize) {
    ended.push_back(name);
    EXPECT_EQ(unpacked, 2000);
    EXPECT_EQ(zipSize, 30 + 5 + packed);
  };
  writer.FilesList = {a, b};
  writer.SetZipName(archive);
  EXPECT_EQ(writer.Zip(), 1);
  EXPECT_EQ(infoCalls, 1);
  EXPECT_EQ(ended, std::vector<std::string>{b});
  EXPECT_EQ(writer.TotalBytes(), 2000);
  EXPECT_EQ(percents.back(), 100);

  writer.OnStartZipInfo = [](TObject*, int, int64_t, TEndCentral&, bool& stop) { stop = true; };
  DeleteFile(archive);
  writer.FilesList = {a, b};
  try {
    writer.Zip();
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_EQ(e.Message(), "User canceled Zip operation");
  }
  EXPECT_FALSE(FileExists(archive));
}

TEST_F(WriterRun, DisposeDeletesSourcesOnlyAfterASuccessfulRun) {
  const std::string a = tree.File("a.mdf", "aaa");
  const std::string b = tree.File("b.mdf", "bbb");
  writer.Dispose = true;
  writer.OnDisposeFile = [&](TObject*, const std::string& name, bool& skip) { skip = name == b; };
  writer.FilesList = {a, b};
  writer.SetZipName(tree.Path("d.zip"));
  EXPECT_EQ(writer.Zip(), 2);
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(FileExists(b));

  writer.FilesList = {b};
  writer.SetZipName(tree.Path("missing/d.zip"));
  EXPECT_THROW(writer.Zip(), EFCreateError);
  EXPECT_TRUE(FileExists(b));
}

// --- Failures ---

TEST_F(WriterRun, ArchiveThatCannotBeCreatedRaisesAndLeavesNothing) {
  const std::string source = tree.File("x.mdf", "data");
  const std::string archive = tree.Path("missing/x.zip");
  try {
    ZipOne(archive, source, 6);
    ADD_FAILURE() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + archive);
  }
  EXPECT_TRUE(completions.empty());
  EXPECT_FALSE(FileExists(archive));
  EXPECT_TRUE(FileExists(source));
}

TEST_F(WriterRun, ShortWriteFailsAndDeletesThePartialArchive) {
  const std::string source = tree.File("big.mdf", RandomBytes(100000));
  const std::string archive = tree.Path("big.zip");
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    try {
      FileSizeLimit limit(40000);
      ZipOne(archive, source, level);
      ADD_FAILURE() << "no exception";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message(), "Cannot write file " + archive + ": File too large");
    }
    EXPECT_FALSE(FileExists(archive));
    EXPECT_TRUE(completions.empty());
  }
  // The limit falls in the central directory: the close must notice it.
  const std::string small = tree.File("small.mdf", RandomBytes(1000));
  try {
    FileSizeLimit limit(30 + 9 + 1000 + 10);
    ZipOne(archive, small, 0);
    ADD_FAILURE() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_NE(e.Message().find("File too large"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(FileExists(archive));
}

TEST_F(WriterRun, ReadErrorFailsAndDeletesThePartialArchive) {
  // Reading the process's own memory from address 0 fails with EIO.
  const std::string source = "/proc/self/mem";
  const THandle probe = FileOpen(source, TFileAccess::Read);
  if (probe == InvalidHandle) GTEST_SKIP() << "no " << source;
  FileClose(probe);
  const std::string archive = tree.Path("mem.zip");
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    try {
      ZipOne(archive, source, level);
      ADD_FAILURE() << "no exception";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), "Cannot read file /proc/self/mem: Input/output error");
    }
    EXPECT_FALSE(FileExists(archive));
    EXPECT_TRUE(completions.empty());
  }
}

TEST_F(WriterRun, CancellationAtAWriteEndsTheRun) {
  const std::string source = tree.File("c.mdf", RandomBytes(100000));
  const std::string archive = tree.Path("c.zip");
  std::atomic<bool> cancel{false};
  ui.onProcessMessages = [&] {
    if (percents.size() == 2) cancel = true;
  };
  try {
    ZipOne(archive, source, 0, &cancel);
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_EQ(e.Message(), "User Aborted Operation");
  }
  // The token is the caller's: the writer leaves it as it is.
  EXPECT_TRUE(cancel);
  EXPECT_FALSE(FileExists(archive));
  EXPECT_EQ(percents.size(), 2u);

  // A Zip without a token is never cancelled.
  ui.onProcessMessages = nullptr;
  EXPECT_EQ(ZipOne(archive, source, 0), 1);
}

// --- Properties ---

TEST(WriterProperties, PathOptionsPullEachOtherAlong) {
  TZipWriter w;
  w.SetRelativePaths(true);
  EXPECT_TRUE(w.StorePaths());
  EXPECT_TRUE(w.Recurse);
  w.SetStoreVolumes(true);
  w.SetStorePaths(true);  // no change: the others stay
  EXPECT_TRUE(w.RelativePaths());
  EXPECT_TRUE(w.StoreVolumes());
  w.SetStorePaths(false);
  EXPECT_FALSE(w.RelativePaths());
  EXPECT_FALSE(w.StoreVolumes());
  EXPECT_TRUE(w.Recurse);

  w.SetRootDir("/data");
  EXPECT_EQ(w.RootDir(), "/data/");
  w.SetRootDir("");
  EXPECT_EQ(w.RootDir(), "");
}

TEST_F(WriterRun, ZipNameKeepsTheDirectoryOnlyForTheSameFile) {
  const std::string source = tree.File("k.mdf", "kept");
  const std::string archive = tree.Path("k.zip");
  ZipOne(archive, source, 0);
  ASSERT_EQ(writer.ArchiveEntries().Count(), 1);
  writer.SetZipName(archive);
  EXPECT_EQ(writer.ArchiveEntries().Count(), 1);
  // Another case is another file on this system.
  writer.SetZipName(tree.Path("K.zip"));
  EXPECT_EQ(writer.ArchiveEntries().Count(), 0);
  EXPECT_EQ(writer.ZipName(), tree.Path("K.zip"));
}

}  // namespace

// A file lent by its handle (a clone taken at one instant, as the run driver
// lends it) is read from its start, whatever its name holds, under the
// file's name with the time and attributes the caller gives.
TEST_F(WriterRun, ALentHandleIsReadUnderTheFilesNameTimeAndAttributes) {
  const std::string named = tree.File("db.mdf", TextBytes(5000));
  const std::string lentBytes = RandomBytes(70000) + TextBytes(30000);
  const std::string lentPath = tree.File("clone", lentBytes);
  const THandle lent = FileOpen(lentPath, TFileAccess::Read);
  ASSERT_NE(lent, InvalidHandle);
  const uint32_t time = (40u << 25) | (5u << 21) | (17u << 16) | (12u << 11) | (34u << 5) | 28u;
  writer.FreshArchive = true;
  writer.SourceHandle = lent;
  writer.SourceTime = time;
  writer.SourceAttr = faArchive | faReadOnly;
  const std::string archive = tree.Path("db.zip");
  EXPECT_EQ(ZipOne(archive, named, 6), 1);
  EXPECT_EQ(writer.TotalBytes(), static_cast<int64_t>(lentBytes.size()));
  EXPECT_EQ(writer.BytesDone(), static_cast<int64_t>(lentBytes.size()));
  // The handle stays the caller's.
  EXPECT_EQ(FileClose(lent), 0);
  const ac::Report report = ac::CheckArchive(archive, ac::kZipfile);
  ASSERT_TRUE(report.ok) << report.log;
  ASSERT_EQ(report.entries.size(), 1u);
  const ac::Entry& entry = report.entries[0];
  EXPECT_EQ(entry.name, "db.mdf");
  EXPECT_EQ(entry.Num("usize"), lentBytes.size());
  EXPECT_EQ(entry.Num("crc"), Crc32(lentBytes.data(), lentBytes.size()));
  EXPECT_EQ(entry.Num("dostime"), time);
  EXPECT_EQ(entry.Num("external") & 0xFFu, faArchive | faReadOnly);
}

// The run's one call: a job writes into the caller's file exactly what Zip
// writes with the same settings as properties, with the same events, and
// leaves the properties as they were.
TEST_F(WriterRun, AJobWritesWhatItsSettingsAsPropertiesWrite) {
  const std::string source = tree.File("a*.mdf", RandomBytes(40000) + TextBytes(160000));
  const THandle lent = FileOpen(tree.File("clone", TextBytes(90000)), TFileAccess::Read);
  ASSERT_NE(lent, InvalidHandle);
  const uint32_t time = (41u << 25) | (2u << 21) | (3u << 16) | (4u << 11) | (5u << 5) | 6u;
  const std::atomic<bool> never{false};
  for (const int level : {0, 9}) {
    for (const THandle clone : {InvalidHandle, lent}) {
      SCOPED_TRACE(std::to_string(level) + (clone == lent ? " lent" : ""));
      const std::string byProperties = tree.Path("properties.zip");
      const std::string byJob = tree.Path("job.zip");
      DeleteFile(byProperties);
      DeleteFile(byJob);
      const THandle first = FileCreate(byProperties);
      const THandle second = FileCreate(byJob);
      ASSERT_NE(first, InvalidHandle);
      ASSERT_NE(second, InvalidHandle);

      writer.FilesList = {source};
      writer.SetZipName(byProperties);
      writer.FreshArchive = true;
      writer.OutputHandle = first;
      writer.SourceHandle = clone;
      writer.SourceTime = time;
      writer.SourceAttr = faArchive | faReadOnly;
      writer.PackLevel = level;
      writer.LiteralNames = true;
      writer.EarlyWriteback = true;
      percents.clear();
      completions.clear();
      // The lent file is read from where it stands: at its start.
      FileSeek(lent, 0, 0);
      ASSERT_EQ(writer.Zip(never), 1);
      const std::vector<int> propertyPercents = percents;

      writer.FreshArchive = false;
      writer.OutputHandle = InvalidHandle;
      writer.SourceHandle = InvalidHandle;
      writer.PackLevel = 6;
      writer.LiteralNames = false;
      writer.EarlyWriteback = false;
      percents.clear();
      FileSeek(lent, 0, 0);
      const TArchiveJob job{.archivePath = byJob,
                            .output = second,
                            .source = source,
                            .sourceHandle = clone,
                            .sourceTime = time,
                            .sourceAttr = faArchive | faReadOnly,
                            .level = level};
      ASSERT_EQ(writer.ZipOne(job, never), 1);
      EXPECT_EQ(FileClose(first), 0);
      EXPECT_EQ(FileClose(second), 0);
      EXPECT_TRUE(ReadAll(byJob) == ReadAll(byProperties));
      EXPECT_EQ(percents, propertyPercents);
      EXPECT_EQ(completions, (std::vector<int>{1, 1}));
      EXPECT_EQ(writer.ZipName(), byJob);
      EXPECT_EQ(writer.FilesList, std::vector<std::string>{source});
      EXPECT_FALSE(writer.FreshArchive || writer.LiteralNames || writer.EarlyWriteback);
      EXPECT_EQ(writer.PackLevel, 6);
      EXPECT_EQ(writer.OutputHandle, InvalidHandle);
    }
  }
  EXPECT_EQ(FileClose(lent), 0);
}

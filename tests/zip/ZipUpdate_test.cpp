// The archive writer updating an archive that already exists: which entries
// are kept, replaced and added, and that a failed update leaves the archive
// exactly as it was.
#include <sys/socket.h>
#include <sys/un.h>

#include "Errors.h"
#include "Files.h"
#include "WriterFixture.h"
#include "WriterServices.h"

namespace {

using namespace writer_test;

constexpr time_t kOld = 1577880000;  // 2020-01-01, around noon
constexpr time_t kNew = 1609502400;  // 2021-01-01, around noon

// An entry's data as unzip extracts it.
std::string Extract(const std::string& archive, const std::string& name) {
  return ac::RunProgram({"unzip", "-p", archive, name}).output;
}

std::vector<std::string> Names(const ac::Report& report) {
  std::vector<std::string> names;
  for (const auto& e : report.entries) names.push_back(e.name);
  return names;
}

class WriterUpdate : public WriterTest {
 protected:
  void SetUp() override {
    archive = tree.Path("u.zip");
    DeleteFile(archive);
    a = tree.File("src/a.txt", "first a " + TextBytes(3000));
    b = tree.File("src/b.txt", "first b " + TextBytes(2000));
    c = tree.File("src/c.txt", "only c");
    SetMTime(a, kOld);
    SetMTime(b, kOld);
    ZipFiles({a, b});
  }

  int ZipFiles(const std::vector<std::string>& files) {
    writer.FilesList = files;
    writer.SetZipName(archive);
    return writer.Zip();
  }

  // Changes both files on disk; only a becomes newer than its entry.
  void ChangeSources() {
    tree.File("src/a.txt", "second a");
    tree.File("src/b.txt", "second b");
    SetMTime(a, kNew);
    SetMTime(b, kOld);
  }

  void ExpectUntouched(const std::string& before) {
    EXPECT_EQ(ReadAll(archive), before);
    EXPECT_EQ(TempFilesLeft(), 0u);
    EXPECT_TRUE(completions.size() == 1);  // only the first run's
  }

  std::string a, b, c, archive;
};

TEST_F(WriterUpdate, NewerFilesReplaceEntriesOthersAreKeptAndNewOnesAdded) {
  // Once with the directory this writer kept, once read back from the file.
  for (bool sameWriter : {true, false}) {
    SCOPED_TRACE(sameWriter);
    SetUp();
    if (!sameWriter) writer.SetZipName(tree.Path("elsewhere.zip"));
    ChangeSources();
    percents.clear();
    EXPECT_EQ(ZipFiles({a, b, c}), 2);
    EXPECT_EQ(percents.back(), 100);
    const ac::Report r = ac::CheckArchive(archive);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(Extract(archive, "a.txt"), "second a");
    EXPECT_EQ(Extract(archive, "b.txt"), "first b " + TextBytes(2000));
    EXPECT_EQ(Extract(archive, "c.txt"), "only c");
    EXPECT_EQ(r.eocd[1], 3u);
    EXPECT_EQ(TempFilesLeft(), 0u);
    EXPECT_EQ(writer.ArchiveEntries().Count(), 3);
  }
}

TEST_F(WriterUpdate, ActionDecidesWhatIsReplacedAndAdded) {
  struct Case {
    TZipAction action;
    int added;
    std::vector<std::string> names;
    std::string bData;
  };
  const std::string oldB = "first b " + TextBytes(2000);
  for (const Case& k : {Case{TZipAction::zaReplace, 3, {"a.txt", "b.txt", "c.txt"}, "second b"},
                        Case{TZipAction::zaFreshen, 1, {"a.txt", "b.txt"}, oldB}}) {
    SetUp();
    ChangeSources();
    writer.ZipAction = k.action;
    EXPECT_EQ(ZipFiles({a, b, c}), k.added);
    const ac::Report r = ac::CheckArchive(archive);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(Names(r), k.names);
    EXPECT_EQ(Extract(archive, "a.txt"), "second a");
    EXPECT_EQ(Extract(archive, "b.txt"), k.bData);
  }
  // Freshening a writer that holds no directory yet reads it from the file.
  TZipWriter fresh;
  fresh.TempPath = tree.Path("tmp");
  fresh.ZipAction = TZipAction::zaFreshen;
  SetMTime(a, kNew + 100);
  fresh.FilesList = {a, c};
  fresh.SetZipName(archive);
  EXPECT_EQ(fresh.Zip(), 1);
  EXPECT_EQ(Names(ac::CheckArchive(archive, ac::kZipfile)),
            (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(WriterUpdate, EntriesMarkedForRemovalAreDropped) {
  ASSERT_EQ(writer.ArchiveEntries().Count(), 2);
  writer.ArchiveEntries()[0]->EntryState[1] = 2;
  std::vector<std::string> asked;
  writer.OnDeleteEntry = [&](TObject*, const std::string& name, bool& skip) {
    asked.push_back(name);
    skip = false;
  };
  EXPECT_EQ(ZipFiles({}), 0);
  EXPECT_EQ(asked, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Names(ac::CheckArchive(archive)), std::vector<std::string>{"b.txt"});

  // A handler may keep it.
  writer.ArchiveEntries()[0]->EntryState[1] = 2;
  writer.OnDeleteEntry = [](TObject*, const std::string&, bool& skip) { skip = true; };
  EXPECT_EQ(ZipFiles({}), 0);
  EXPECT_EQ(Names(ac::CheckArchive(archive)), std::vector<std::string>{"b.txt"});
}

TEST_F(WriterUpdate, ReplacementThatCannotBeReadKeepsTheOldEntry) {
  // src2/a.txt is a socket: stored as a.txt, newer than the entry, unopenable.
  const std::string path = tree.Dir("src2") + "/a.txt";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  EXPECT_EQ(ZipFiles({path}), 0);
  const ac::Report r = ac::CheckArchive(archive);
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(Extract(archive, "a.txt"), "first a " + TextBytes(3000));
  ASSERT_EQ(skips.size(), 1u);
  EXPECT_EQ(skips[0].reason, TSkipReason::srNoOpen);
}

TEST_F(WriterUpdate, ForeignArchiveWithDescriptorsAndCommentIsCopiedSoundly) {
  // zipfile writes data descriptors (flag bit 3) to a stream it cannot seek.
  const std::string foreign = tree.Path("foreign.zip");
  const ac::ProgramResult made =
      ac::RunProgram({"python3", "-c",
                      "import sys, zipfile\n"
                      "class Out:\n"
                      "    def __init__(self, f): self.f = f\n"
                      "    def write(self, b): return self.f.write(b)\n"
                      "    def flush(self): self.f.flush()\n"
                      "with open(sys.argv[1], 'wb') as f:\n"
                      "    with zipfile.ZipFile(Out(f), 'w', zipfile.ZIP_DEFLATED) as z:\n"
                      "        z.comment = b'kept comment'\n"
                      "        z.writestr('dir/x.txt', 'x' * 5000)\n"
                      "        z.writestr('y.txt', 'why')\n",
                      foreign});
  ASSERT_EQ(made.exitCode, 0) << made.output;
  ASSERT_NE(ac::CheckArchive(foreign, ac::kZipfile).entries[0].Num("flags") & 8, 0u);
  archive = foreign;
  EXPECT_EQ(ZipFiles({c}), 1);
  const ac::Report r = ac::CheckArchive(archive);
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(Names(r), (std::vector<std::string>{"dir/x.txt", "y.txt", "c.txt"}));
  for (const auto& e : r.entries) EXPECT_EQ(e.Num("flags") & 8, 0u) << e.name;
  EXPECT_EQ(Extract(archive, "dir/x.txt"), std::string(5000, 'x'));
  EXPECT_EQ(r.eocd[4], 12u);  // comment length
  EXPECT_EQ(ReadAll(archive).substr(ReadAll(archive).size() - 12), "kept comment");
}

TEST_F(WriterUpdate, ArchiveThatIsNotAZipIsLeftAsItWas) {
  struct Case {
    std::string bytes;
    std::string message;
  };
  std::string badCentral = ReadAll(archive);
  const size_t central = badCentral.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  badCentral[central + 2] = 9;
  for (const Case& k : {Case{std::string(100, 'z'), "Incomplete Zip File"},
                        Case{badCentral, "Not a valid zip file!"}}) {
    SCOPED_TRACE(k.message);
    { std::ofstream(archive, std::ios::binary | std::ios::trunc) << k.bytes; }
    try {
      ZipFiles({c});
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), k.message);
    }
    ExpectUntouched(k.bytes);
  }
}

TEST_F(WriterUpdate, FailedUpdateLeavesTheArchiveAsItWas) {
  const std::string before = ReadAll(archive);
  ChangeSources();
  const THandle probe = FileOpen("/proc/self/mem", TFileAccess::Read);
  if (probe != InvalidHandle) {
    FileClose(probe);
    EXPECT_THROW(ZipFiles({a, "/proc/self/mem"}), EReadError);
    ExpectUntouched(before);
  }
  const std::string big = tree.File("src/big.bin", RandomBytes(200000));
  try {
    FileSizeLimit limit(static_cast<rlim_t>(before.size()) + 50000);
    ZipFiles({a, big});
    ADD_FAILURE() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_NE(e.Message().find("File too large"), std::string::npos) << e.Message();
  }
  ExpectUntouched(before);
}

TEST_F(WriterUpdate, ArchiveThatCannotBeReplacedIsReportedAndItsUpdateKept) {
  // The message box as the window program installs it.
  SetWriterMessage([&](const std::string& caption, const std::string& text) {
    Ui().ShowMessage(DialogKind::Plain, caption, text);
  });
  struct Uninstall {
    ~Uninstall() { SetWriterMessage({}); }
  } uninstall;
  ChangeSources();
  // Something takes the archive's place while the update is written.
  writer.OnEndZip = [&](TObject*, const std::string&, int64_t, int64_t, int64_t) {
    DeleteFile(archive);
    std::filesystem::create_directory(archive);
  };
  EXPECT_EQ(ZipFiles({a}), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_EQ(ui.messages[0].kind, DialogKind::Plain);
  const std::string prefix = "Could not copy from " + tree.Path("tmp") + "/";
  const std::string& text = ui.messages[0].text;
  EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - archive.size() - 4), " -> " + archive);
  // The update survives in the temporary file the message names.
  const std::string temp = text.substr(20, text.size() - archive.size() - 4 - 20);
  ASSERT_TRUE(FileExists(temp)) << temp;
  EXPECT_EQ(Names(ac::CheckArchive(temp)), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(writer.ArchiveEntries().Count(), 0);
}

}  // namespace

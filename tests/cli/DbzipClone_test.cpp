// dbzip on loop-mounted btrfs and XFS images while another process rewrites
// the database without pause, page by page, stamping each sweep's generation
// into every page. Read from a clone, the archive holds one instant of the
// sweep: the newer generation on a prefix of the pages, the one before on the
// rest. Read directly (--no-clone), it holds many and is reported as changed.
// Mounting needs root: where it is refused the test says so and skips.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "Subprocess.h"
#include "TempTree.h"

namespace {

namespace fs = std::filesystem;

// 1 MB: swept in a few milliseconds even on btrfs, read at level 6 in a
// fifth of a second or more.
constexpr size_t kPage = 16384;
constexpr size_t kPages = 64;

std::string Tool(const std::string& name) {
  for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    if (::access((dir + name).c_str(), X_OK) == 0) return dir + name;
  }
  return {};
}

// A file system of type made in an image file and mounted at a folder of its
// own; unmounted when it goes. Why not, when it could not be.
class LoopMount {
 public:
  LoopMount(const std::string& type, const std::string& scratch) {
    if (::geteuid() != 0) {
      why_ = "mounting needs root";
      return;
    }
    const std::string mkfs = Tool("mkfs." + type), mount = Tool("mount");
    if (mkfs.empty() || mount.empty()) {
      why_ = "mkfs." + type + " or mount is not installed";
      return;
    }
    const std::string image = scratch + type + ".img";
    dir_ = scratch + type;
    fs::create_directory(dir_);
    // XFS takes no less than 300 MB; the image is sparse.
    { std::ofstream(image).close(); }
    fs::resize_file(image, 320u << 20);
    ProcessResult r = RunProcess({mkfs, "-q", image});
    if (r.status == 0) r = RunProcess({mount, "-o", "loop", image, dir_});
    if (r.status != 0) {
      why_ = "could not make or mount a " + type + " image: " + r.err;
      return;
    }
    mounted_ = true;
  }
  ~LoopMount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Why() const { return why_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  std::string why_;
  bool mounted_ = false;
};

// A process that sweeps the database at path over and over, each sweep
// writing its generation (from 1) into the first 8 bytes of every page. It
// has swept the database once when the constructor returns.
class Sweeper {
 public:
  explicit Sweeper(const std::string& path) {
    std::vector<unsigned char> pages(kPage * kPages);
    std::mt19937_64 random(27);
    // Four letters at random: matches everywhere keep the encoder busy, so
    // the read takes many sweeps' time.
    for (auto& byte : pages) byte = static_cast<unsigned char>('a' + random() % 4);
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      for (uint64_t generation = 1;; ++generation) {
        for (size_t i = 0; i < kPages; ++i) {
          unsigned char* page = pages.data() + i * kPage;
          std::memcpy(page, &generation, sizeof generation);
          if (::pwrite(fd, page, kPage, static_cast<off_t>(i * kPage)) != kPage) ::_exit(1);
        }
        if (generation == 1 && ::write(ready[1], "r", 1) != 1) ::_exit(1);
      }
    }
    ::close(fd);
    ::close(ready[1]);
    char byte = 0;
    const bool swept = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!swept) throw std::runtime_error("the sweeping process failed");
  }
  ~Sweeper() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

struct Run {
  uint64_t generation;
  size_t pages;
};

// The generation of each page of the archived database, as runs of equal
// ones from the first page, decoded by python3's zipfile; empty when the
// archive or its size is wrong.
std::vector<Run> ArchivedGenerations(const std::string& archive) {
  const ProcessResult r =
      RunProcess({"/usr/bin/python3", "-c",
                  "import struct, sys, zipfile\n"
                  "data = zipfile.ZipFile(sys.argv[1]).read('db.mdf')\n"
                  "assert len(data) == int(sys.argv[2]), len(data)\n"
                  "print(' '.join(str(struct.unpack_from('<Q', data, i)[0])\n"
                  "               for i in range(0, len(data), int(sys.argv[3]))))",
                  archive, std::to_string(kPage * kPages), std::to_string(kPage)});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Run> runs;
  std::istringstream in(r.out);
  for (uint64_t g; in >> g;) {
    if (runs.empty() || runs.back().generation != g) runs.push_back({g, 0});
    ++runs.back().pages;
  }
  return runs;
}

// One instant of the sweep: every page of one generation, or the newer on a
// prefix of the pages and the one before on the rest.
bool OneInstant(const std::vector<Run>& runs) {
  return runs.size() == 1 || (runs.size() == 2 && runs[0].generation == runs[1].generation + 1);
}

std::string Describe(const std::vector<Run>& runs) {
  std::string text;
  for (const Run& run : runs)
    text += std::to_string(run.generation) + "x" + std::to_string(run.pages) + " ";
  return text;
}

void SweptDatabaseScenario(const std::string& type) {
  TempTree scratch;
  const LoopMount mount(type, scratch.Root() + "/");
  if (!mount.Mounted()) GTEST_SKIP() << mount.Why();
  const std::string src = mount.Path("src"), out = scratch.Root() + "/out";
  fs::create_directory(src);
  fs::create_directory(out);
  const Sweeper sweeper(src + "/db.mdf");

  // From a clone, made in the database's own folder (the output is on
  // another file system): one instant, newer pages first.
  ProcessResult r = RunProcess({DBZIP_PATH, "-l", "6", src, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 archived (1 read from a clone)"), std::string::npos) << r.out;
  std::vector<Run> runs = ArchivedGenerations(out + "/db.zip");
  EXPECT_TRUE(OneInstant(runs)) << Describe(runs);
  // Nothing is left beside the database.
  EXPECT_EQ(std::distance(fs::directory_iterator(src), fs::directory_iterator()), 1);

  // Read directly, the same database spans many sweeps and says so.
  r = RunProcess({DBZIP_PATH, "-l", "6", "--no-clone", src, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("changed while read"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("read from a clone"), std::string::npos) << r.out;
  runs = ArchivedGenerations(out + "/db.zip");
  EXPECT_FALSE(runs.empty() || OneInstant(runs)) << Describe(runs);

  // A database folder that takes no file (immutable, even to root): the
  // clone is made in the output folder, on the same file system.
  const std::string chattr = Tool("chattr"), sameOut = mount.Path("out");
  fs::create_directory(sameOut);
  if (chattr.empty() || RunProcess({chattr, "+i", src}).status != 0) return;
  r = RunProcess({DBZIP_PATH, "-l", "6", src, sameOut});
  RunProcess({chattr, "-i", src});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 archived (1 read from a clone)"), std::string::npos) << r.out;
  runs = ArchivedGenerations(sameOut + "/db.zip");
  EXPECT_TRUE(OneInstant(runs)) << Describe(runs);
  EXPECT_EQ(std::distance(fs::directory_iterator(sameOut), fs::directory_iterator()), 1);
}

TEST(DbzipClone, BtrfsArchivesOneInstantOfADatabaseWrittenWhileRead) {
  SweptDatabaseScenario("btrfs");
}

TEST(DbzipClone, XfsArchivesOneInstantOfADatabaseWrittenWhileRead) {
  SweptDatabaseScenario("xfs");
}

}  // namespace

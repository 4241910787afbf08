// Local boundaries of the posix backend: every file and folder the program
// writes is the user's alone (also under a loose umask and after an atomic
// replace), and the instance channel and the lock files trust nothing that
// another user placed or sends. The tests of another user's files need root
// (to make files of another owner) and are skipped without it.
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ProcessSignal.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/Mutex.h"
#include "platform/ProxySettings.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"

namespace {

constexpr uid_t kOtherUser = 65534;  // "nobody"

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 07777;
  return st.st_mode & 07777;
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The loosest umask there is, for one scope.
class OpenUmask {
 public:
  OpenUmask() : FOld(::umask(0)) {}
  ~OpenUmask() { ::umask(FOld); }

 private:
  mode_t FOld;
};

class SecurityLocal : public SandboxTest {
 protected:
  // The only file of a folder whose name ends in suffix.
  std::string OnlyFile(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    for (const std::string& name : platform::ListFiles(folder, "*" + suffix))
      found.push_back(folder + "/" + name);
    return found.size() == 1 ? found[0] : std::string();
  }
  // With the runtime folder's name taken: the single-instance lock and the
  // instance sockets work, in "veilgate-run" of the user's cache folder.
  void ExpectInstanceFilesInTheCache() {
    ASSERT_EQ(platform::CreateNamedMutex("Local\\{SecSquat}"), platform::MutexResult::Created);
    EXPECT_FALSE(CheckSingleInstance("Local\\{SecSquat}"));  // a second start hands over
    platform::ReleaseNamedMutexes();
    auto endpoint =
        platform::CreateInstanceEndpoint("SecSquat", [](const platform::InstanceMessage&) {
          return int64_t{7};
        });
    ASSERT_NE(endpoint, nullptr);
    EXPECT_EQ(endpoint->window().id.rfind(sb().Path("cache/veilgate-run/"), 0), 0u)
        << endpoint->window().id;
    EXPECT_EQ(ModeOf(sb().Path("cache/veilgate-run")), 0700u);
    const auto found = platform::FindInstanceWindows("SecSquat");
    ASSERT_EQ(found.size(), 1u);
  }
};

TEST_F(SecurityLocal, FilesAndFoldersTheProgramMakesAreTheUsersAlone) {
  OpenUmask umask0;
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("mine/a/b")));
  EXPECT_EQ(ModeOf(sb().Path("mine")), 0700u);
  EXPECT_EQ(ModeOf(sb().Path("mine/a")), 0700u);
  EXPECT_EQ(ModeOf(sb().Path("mine/a/b")), 0700u);

  const std::string whole = sb().Path("mine/whole.txt");
  ASSERT_TRUE(platform::WriteWholeFile(whole, "1"));
  EXPECT_EQ(ModeOf(whole), 0600u);

  // A new file, and the same file replaced: the replace is a new file (other
  // inode) with the mode of the old one.
  const std::string atomic = sb().Path("mine/setting.dat");
  ASSERT_TRUE(platform::WriteFileAtomic(atomic, "first"));
  EXPECT_EQ(ModeOf(atomic), 0600u);
  const ino_t before = InodeOf(atomic);
  ASSERT_TRUE(platform::WriteFileAtomic(atomic, "second"));
  EXPECT_NE(InodeOf(atomic), before);
  EXPECT_EQ(ModeOf(atomic), 0600u);
  EXPECT_EQ(sb().ReadFile("mine/setting.dat"), "second");

  // The settings-file writer and the text saver go the same way.
  ASSERT_TRUE(SaveTextToFile("text", sb().Path("mine/saved.txt")));
  EXPECT_EQ(ModeOf(sb().Path("mine/saved.txt")), 0600u);

  // A temporary file in a shared folder is made new and private, never
  // through a link somebody placed under its name.
  const std::string temp = sb().Path("mine/sg1.tmp");
  ASSERT_TRUE(platform::CreateNewFile(temp));
  EXPECT_EQ(ModeOf(temp), 0600u);
  EXPECT_FALSE(platform::CreateNewFile(temp));
  ASSERT_EQ(::symlink(sb().Path("mine/victim").c_str(), sb().Path("mine/sg2.tmp").c_str()), 0);
  EXPECT_FALSE(platform::CreateNewFile(sb().Path("mine/sg2.tmp")));
  EXPECT_FALSE(sb().Exists("mine/victim"));
}

// Links and loose files another user may plant in a folder the program
// writes: nothing is written through a link, a replaced file never passes on
// more than the owner's permissions, and a folder of the user's that an
// earlier version left open is closed.
TEST_F(SecurityLocal, PlantedLinksAreReplacedNeverFollowed) {
  OpenUmask umask0;
  sb().WriteFile("victim.txt", "precious");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("mine")));
  auto plant = [&](const char* name, const std::string& target) {
    return ::symlink(target.c_str(), sb().Path(std::string("mine/") + name).c_str()) == 0;
  };
  ASSERT_TRUE(plant("setting.dat", sb().Path("victim.txt")));
  ASSERT_TRUE(plant("copy.dat", sb().Path("victim.txt")));
  ASSERT_TRUE(plant("whole.dat", sb().Path("victim.txt")));
  ASSERT_TRUE(plant("dangling.dat", sb().Path("created-elsewhere.txt")));
  sb().WriteFile("source.bin", "copied");

  EXPECT_TRUE(platform::PathExists(sb().Path("mine/dangling.dat")));  // a taken name
  ASSERT_TRUE(platform::WriteFileAtomic(sb().Path("mine/setting.dat"), "mine"));
  ASSERT_TRUE(platform::WriteFileAtomic(sb().Path("mine/dangling.dat"), "mine"));
  ASSERT_TRUE(platform::CopyFileAtomic(sb().Path("source.bin"), sb().Path("mine/copy.dat")));
  EXPECT_FALSE(platform::WriteWholeFile(sb().Path("mine/whole.dat"), "through"));
  EXPECT_EQ(sb().ReadFile("victim.txt"), "precious");
  EXPECT_FALSE(sb().Exists("created-elsewhere.txt"));
  for (const char* name : {"mine/setting.dat", "mine/dangling.dat", "mine/copy.dat"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(sb().Path(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
  }
  EXPECT_EQ(sb().ReadFile("mine/copy.dat"), "copied");

  // A replaced file keeps at most its owner's permissions.
  struct Mode {
    mode_t before, after;
  };
  for (const Mode m : {Mode{0644, 0600}, Mode{0666, 0600}, Mode{0640, 0600}, Mode{0400, 0400}}) {
    const std::string file = sb().Path("mine/loose.dat");
    platform::DeleteFileAt(file);
    sb().WriteFile("mine/loose.dat", "old");
    ASSERT_EQ(::chmod(file.c_str(), m.before), 0);
    ASSERT_TRUE(platform::WriteFileAtomic(file, "new"));
    EXPECT_EQ(ModeOf(file), m.after) << std::oct << m.before;
  }

  // A folder of the user's left open is closed; one reached through a link,
  // and another user's shared folder, are left alone.
  ASSERT_EQ(::mkdir(sb().Path("open").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(sb().Path("shared").c_str(), 0777), 0);
  ASSERT_EQ(::symlink(sb().Path("shared").c_str(), sb().Path("alias").c_str()), 0);
  EXPECT_TRUE(platform::ForceDirectories(sb().Path("open")));
  EXPECT_TRUE(platform::ForceDirectories(sb().Path("alias")));
  EXPECT_EQ(ModeOf(sb().Path("open")), 0700u);
  EXPECT_EQ(ModeOf(sb().Path("shared")), 0777u);
}

// Temporary files in a shared folder: new, private, and named from so many
// possible names that nobody can take them all in advance.
TEST_F(SecurityLocal, TemporaryFilesHaveUnguessableNames) {
  OpenUmask umask0;
  std::vector<std::string> names;
  for (int i = 0; i < 20; ++i) {
    const std::string name = platform::CreateTempFile(sb().Path("tmp"), "sg", ".tmp");
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(ModeOf(name), 0600u);
    const std::string base = name.substr(name.rfind('/') + 1);
    ASSERT_EQ(base.size(), 12u) << base;
    EXPECT_EQ(base.substr(0, 2), "sg");
    EXPECT_EQ(base.substr(8), ".tmp");
    for (const std::string& other : names) EXPECT_NE(other, name);
    names.push_back(name);
  }
  EXPECT_TRUE(platform::CreateTempFile(sb().Path("none"), "sg", ".tmp").empty());
}

TEST_F(SecurityLocal, RegistryFilesAndTheirLocksAreTheUsersAlone) {
  OpenUmask umask0;
  ASSERT_TRUE(platform::RegWriteString(RegRoot::CurrentUser, "Software\\Veilgate", "X", "1"));
  ASSERT_TRUE(platform::RegWriteString(RegRoot::CurrentUser, "Software\\Veilgate", "X", "2"));
  ASSERT_TRUE(platform::RegWriteString(RegRoot::ClassesRoot, "HTTP\\shell\\open\\command", "",
                                       "browser %1"));
  const std::string folder = sb().Path("data/veilgate/registry");
  EXPECT_EQ(ModeOf(sb().Path("data/veilgate")), 0700u);
  EXPECT_EQ(ModeOf(folder), 0700u);
  const std::vector<std::string> files = platform::ListFiles(folder, "*");
  ASSERT_GE(files.size(), 4u);  // two roots, each with its lock file
  for (const std::string& name : files) EXPECT_EQ(ModeOf(folder + "/" + name), 0600u) << name;
}

TEST_F(SecurityLocal, TheSavedCopyOfTheUsersProxyIsTheUsersAlone) {
  OpenUmask umask0;
  ASSERT_TRUE(platform::KeepUserProxy());
  const std::string file = platform::SavedDesktopProxyFile();
  ASSERT_TRUE(platform::FileExists(file)) << file;
  EXPECT_EQ(ModeOf(file), 0600u);
  EXPECT_EQ(ModeOf(file.substr(0, file.rfind('/'))), 0700u);
  // Rewritten after a switch: still the user's alone.
  platform::NoteProxyWritten();
  EXPECT_EQ(ModeOf(file), 0600u);
  platform::PutBackUserProxy();
}

TEST_F(SecurityLocal, InstanceSocketsAndLockFilesAreTheUsersAlone) {
  OpenUmask umask0;
  // A folder of the user's own left open (an older version, a loose umask)
  // is closed before it is used.
  ASSERT_EQ(::mkdir(sb().Path("run/veilgate-instances").c_str(), 0755), 0);
  auto endpoint = platform::CreateInstanceEndpoint("SecTest", [](const platform::InstanceMessage&) {
    return int64_t{1};
  });
  ASSERT_NE(endpoint, nullptr);
  EXPECT_EQ(ModeOf(sb().Path("run/veilgate-instances")), 0700u);
  EXPECT_EQ(ModeOf(endpoint->window().id), 0600u);

  ASSERT_EQ(platform::CreateNamedMutex("Global\\{SecTest}"), platform::MutexResult::Created);
  EXPECT_EQ(ModeOf(sb().Path("run/veilgate-mutex")), 0700u);
  const std::string lock = OnlyFile(sb().Path("run/veilgate-mutex"), ".lock");
  ASSERT_FALSE(lock.empty());
  EXPECT_EQ(ModeOf(lock), 0600u);
  platform::ReleaseNamedMutexes();
}

// Without a session runtime folder, the program's folder in the temporary
// folder can be taken by somebody else first. Single-instance handling and
// the instance channel then go on in the user's own cache folder.
TEST_F(SecurityLocal, ATakenRuntimeFolderNameDoesNotTurnOffTheInstanceChannel) {
  testsupport::EnvGuard env;
  env.Set("XDG_RUNTIME_DIR", nullptr);
  const std::string name = "veilgate-" + std::to_string(::getuid());
  // Somebody's link in the name's place (another user's folder is the case
  // with root, below).
  ASSERT_EQ(::symlink(sb().Path("cache").c_str(), sb().Path("tmp/" + name).c_str()), 0);
  ExpectInstanceFilesInTheCache();
}

class SecurityOtherUser : public SecurityLocal {
 protected:
  void SetUp() override {
    SecurityLocal::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
  }
};

TEST_F(SecurityOtherUser, ASocketOfAnotherUserIsNeitherFoundNorCalled) {
  // A listening socket under a name of this program's class, owned by
  // another user.
  platform::FindInstanceWindows("SecTest");  // makes the folder
  const std::string path = sb().Path("run/veilgate-instances/SecTest.99999.1.sock");
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);

  EXPECT_TRUE(platform::FindInstanceWindows("SecTest").empty());
  EXPECT_EQ(platform::SendInstanceMessage(platform::InstanceWindow{path}, 0xC001, 1, 2, 2000), 0);
  EXPECT_TRUE(sb().Exists("run/veilgate-instances/SecTest.99999.1.sock"));  // not removed either
  // Nothing connected to it.
  EXPECT_LT(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC), 0);
  ::close(fd);
}

// A file another user owns, or a link, in the user's settings' place is not
// read as the user's settings; a shared folder is trusted only as root's
// and closed to others.
TEST_F(SecurityOtherUser, FilesAndFoldersOfAnotherUserAreNotTrusted) {
  sb().WriteFile("mine.dat", "[Setting]\nX=1\n");
  sb().WriteFile("theirs.dat", "[Setting]\nFireFoxPath=/bin/evil\n");
  ASSERT_EQ(::chown(sb().Path("theirs.dat").c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(::symlink(sb().Path("mine.dat").c_str(), sb().Path("link.dat").c_str()), 0);
  std::string bytes;
  EXPECT_TRUE(platform::ReadOwnFile(sb().Path("mine.dat"), bytes));
  EXPECT_EQ(bytes, "[Setting]\nX=1\n");
  EXPECT_FALSE(platform::ReadOwnFile(sb().Path("theirs.dat"), bytes));
  EXPECT_FALSE(platform::ReadOwnFile(sb().Path("link.dat"), bytes));
  EXPECT_EQ(bytes, "");

  struct Folder {
    uid_t owner;
    mode_t mode;
    bool trusted;
  };
  for (const Folder f : {Folder{0, 0755, true}, Folder{0, 0700, true}, Folder{0, 0775, false},
                         Folder{0, 01777, false}, Folder{kOtherUser, 0755, false}}) {
    const std::string dir = sb().Path("common-test");
    ::rmdir(dir.c_str());
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::chown(dir.c_str(), f.owner, f.owner), 0);
    ASSERT_EQ(::chmod(dir.c_str(), f.mode), 0);
    EXPECT_EQ(platform::IsTrustedSharedFolder(dir), f.trusted)
        << f.owner << " " << std::oct << f.mode;
  }
  ASSERT_EQ(::symlink(sb().Path("common-test").c_str(), sb().Path("common-link").c_str()), 0);
  EXPECT_FALSE(platform::IsTrustedSharedFolder(sb().Path("common-link")));
}

TEST_F(SecurityOtherUser, ARuntimeFolderOfAnotherUserDoesNotTurnOffTheInstanceChannel) {
  testsupport::EnvGuard env;
  env.Set("XDG_RUNTIME_DIR", nullptr);
  const std::string squat = sb().Path("tmp/veilgate-" + std::to_string(::getuid()));
  ASSERT_EQ(::mkdir(squat.c_str(), 0777), 0);
  ASSERT_EQ(::chown(squat.c_str(), kOtherUser, kOtherUser), 0);
  ExpectInstanceFilesInTheCache();
  // Nothing of ours went into the other user's folder.
  EXPECT_TRUE(platform::ListFiles(squat, "*").empty());
}

TEST_F(SecurityOtherUser, ALockFileOfAnotherUserDoesNotStopTheProgram) {
  ASSERT_EQ(platform::CreateNamedMutex("Global\\{SecLock}"), platform::MutexResult::Created);
  platform::ReleaseNamedMutexes();
  const std::string lock = OnlyFile(sb().Path("run/veilgate-mutex"), ".lock");
  ASSERT_FALSE(lock.empty());
  // The other user's file, held locked by them.
  ASSERT_EQ(::chown(lock.c_str(), kOtherUser, kOtherUser), 0);
  int held = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  // Not "another instance runs": the lock is not this user's to believe.
  EXPECT_EQ(platform::CreateNamedMutex("Global\\{SecLock}"), platform::MutexResult::Failed);
  EXPECT_TRUE(CheckSingleInstance("Global\\{SecLock}"));
  ::close(held);
  platform::ReleaseNamedMutexes();
}

TEST_F(SecurityOtherUser, AnInstanceDoesNotAnswerAnotherUser) {
  std::atomic<int> handled{0};
  auto endpoint =
      platform::CreateInstanceEndpoint("SecTest", [&](const platform::InstanceMessage&) {
        return int64_t{++handled};
      });
  ASSERT_NE(endpoint, nullptr);
  const std::string path = endpoint->window().id;
  // The file permissions gone wrong: the other user can reach the socket
  // (every folder above it opened for passing through).
  std::vector<std::pair<std::string, mode_t>> opened;
  for (std::string folder = sb().Path("run/veilgate-instances"); folder.size() > 1;
       folder = folder.substr(0, folder.rfind('/'))) {
    const mode_t mode = ModeOf(folder);
    if (mode & 0001) continue;
    ASSERT_EQ(::chmod(folder.c_str(), mode | 0011), 0);
    opened.emplace_back(folder, mode);
  }
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);

  platform::InstanceMessage message;
  message.msg = 0xC001;
  const std::string frame = platform::EncodeInstanceFrame(message);
  // The child, as the other user, sends one request and reports whether a
  // reply came: 0 no reply, 1 a reply, 2 it could not even connect.
  pid_t child = testsupport::ForkChild([&]() -> int {
    if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) return 3;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::fprintf(stderr, "connect as the other user: %s\n", std::strerror(errno));
      return 2;
    }
    // The instance may close the connection before the request is written.
    if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size()))
      return 0;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return 0;
    char reply[8];
    return ::read(fd, reply, sizeof reply) == static_cast<ssize_t>(sizeof reply) ? 1 : 0;
  });
  ASSERT_GT(child, 0);
  // Serve until the child has had its answer (or none).
  int status = -1;
  for (int i = 0; i < 1000 && status < 0; ++i) {
    pollfd p{endpoint->fd(), POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) endpoint->ProcessPending();
    int raw = 0;
    if (::waitpid(child, &raw, WNOHANG) == child) status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 4;
  }
  if (status < 0) {
    ::kill(child, SIGKILL);
    testsupport::WaitChild(child);
  }
  for (const auto& [folder, mode] : opened) ::chmod(folder.c_str(), mode);
  EXPECT_EQ(status, 0);  // connected, and was not answered
  EXPECT_EQ(handled.load(), 0);
  // This user's own request, from another thread (so it goes through the
  // socket), is answered as before.
  std::atomic<bool> done{false};
  int64_t reply = 0;
  std::thread sender([&] {
    reply = platform::SendInstanceMessage(endpoint->window(), 0xC001, 0, 0, 5000);
    done = true;
  });
  for (int i = 0; i < 1000 && !done; ++i) {
    pollfd p{endpoint->fd(), POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) endpoint->ProcessPending();
  }
  sender.join();
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(handled.load(), 1);
}

}  // namespace
#endif

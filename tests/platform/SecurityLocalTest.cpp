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

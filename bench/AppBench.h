// What the application benchmarks share: files, child processes, the
// reference service with proxy lists of the benchmark's choosing, and the
// program's folder pointing at it. Each benchmark runs in the tests'
// sandbox (support/Sandbox.h), never in the user's own files.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace appbench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
    s.replace(p, from.size(), to);
  return s;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()      ? 0
         : v.size() % 2 ? v[v.size() / 2]
                        : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline pid_t Spawn(const std::vector<std::string>& args, const std::string& out) {
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* f = std::fopen(out.c_str(), "w");
    if (f) {
      dup2(fileno(f), 1);
      dup2(fileno(f), 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline void Stop(pid_t pid) {
  kill(pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

struct Service {
  pid_t pid = -1;
  int port = 0;
};

// The reference service on loopback with these proxy lists (records of
// "address:port|country|code|longitude|latitude", one a line).
inline Service StartService(const std::string& root, const std::string& normal,
                            const std::string& super) {
  // clang-format off
  Write(root + "/service.conf",
        "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = VG-DEMO\ncheck_magicword = 1\n"
        "flags = " VG_BINARY_DIR "/res/flag_short\nlog = " + root + "/service.log\n"
        "[update]\nResult = 0\n"
        "[settings]\nSUPER_TOUCH = http://{service}/touch?ip={1}\nURL.CheckIP = http://{service}/checkip\n"
        "URL.FlagPath = http://{service}/flags/\n"
        "[normal]\n" + normal + "[super]\n" + super +
        "[localinfo]\nip =\ncountry_short = US\ncountry_long = United States\ncity = Dallas\n");
  // clang-format on
  Service s;
  s.pid = Spawn({VG_SERVICE_EXE, "--config", root + "/service.conf", "--port", "0"},
                root + "/service.out");
  WaitFor([&] { return Read(root + "/service.out").find('\n') != std::string::npos; }, 5000);
  // The first line says where it listens ("listening on http://host:port").
  std::string line = Read(root + "/service.out");
  line = line.substr(0, line.find('\n'));
  s.port = std::atoi(line.c_str() + line.rfind(':') + 1);
  return s;
}

// The program's folder: the shipped data with the service's address.
inline std::string Install(const std::string& root, int port, const std::string& extra) {
  const std::string app = root + "/app";
  fs::create_directories(app);
  fs::copy_file(VG_APP_EXE, app + "/veilgate", fs::copy_options::overwrite_existing);
  // The modules the program loads from its own folder (the HTTP transport,
  // the desktop's settings, the network check).
  for (const auto& e : fs::directory_iterator(fs::path(VG_APP_EXE).parent_path())) {
    const std::string name = e.path().filename().string();
    if (name.rfind("libvg", 0) == 0 && e.path().extension() == ".so")
      fs::copy_file(e.path(), app + "/" + name, fs::copy_options::overwrite_existing);
  }
  for (const char* d : {"lang", "skins", "res"})
    fs::copy(std::string(VG_BINARY_DIR) + "/" + d, app + "/" + d,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  // The service's address is a setting of its own ("URL.Service").
  std::string c = Read(VG_SOURCE_DIR "/res/const.dat");
  c = Replace(c, "[setting]",
              "[setting]\r\nApp.Splash=0\r\nURL.Service=http://127.0.0.1:" + std::to_string(port) +
                  "\r\n" + extra);
  Write(app + "/const.dat", c);
  return app;
}

}  // namespace appbench

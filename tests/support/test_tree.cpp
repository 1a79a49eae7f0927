// Temporary trees and child processes for the tests.
#include "test_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace test_support {

namespace {

void check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

void make_socket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  check(path.size() < sizeof address.sun_path, "socket path too long");
  std::strcpy(address.sun_path, path.c_str());
  check(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0, path);
  close(fd);
}

void make_entry(const std::string& root, const std::string& entry) {
  const auto arrow = entry.find(" -> ");
  const std::string name = arrow == std::string::npos ? entry : entry.substr(0, arrow);
  const std::string path = root + "/" + name.substr(0, name.size() - 1);
  if (arrow != std::string::npos) {
    check(symlink(entry.substr(arrow + 4).c_str(), (root + "/" + name).c_str()) == 0, entry);
  } else if (name.back() == '/') {
    check(mkdir(path.c_str(), 0755) == 0, entry);
  } else if (name.back() == '|') {
    check(mkfifo(path.c_str(), 0644) == 0, entry);
  } else if (name.back() == '=') {
    make_socket(path);
  } else {
    const int fd = open((root + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    check(fd >= 0 && write(fd, "x", 1) == 1, entry);
    close(fd);
  }
}

// Empties the directory fd, descending by descriptor, so no path grows.
void remove_below(int fd) {
  DIR* listing = fdopendir(dup(fd));
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (unlinkat(fd, entry->d_name, 0) == 0) continue;
    fchmodat(fd, entry->d_name, 0700, 0);
    const int below = openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (below < 0) continue;
    remove_below(below);
    close(below);
    unlinkat(fd, entry->d_name, AT_REMOVEDIR);
  }
  closedir(listing);
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/zarvelin-files-XXXXXX";
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  remove_tree(path_);
}

void TempDir::make(const std::vector<std::string>& entries) const {
  for (const std::string& entry : entries) make_entry(path_, entry);
}

bool TempDir::exists(const std::string& relative) const {
  struct stat info {};
  return lstat(at(relative).c_str(), &info) == 0;
}

void remove_tree(const std::string& path) {
  chmod(path.c_str(), 0700);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  remove_below(fd);
  close(fd);
  rmdir(path.c_str());
}

void make_deep_chain(const std::string& path, int levels, const std::string& leaf) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(fd >= 0, path);
  for (int level = 0; level < levels; ++level) {
    check(mkdirat(fd, "d", 0755) == 0, "mkdirat");
    const int below = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = below;
    check(fd >= 0, "openat");
  }
  const int file = openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  check(file >= 0, leaf);
  close(file);
  close(fd);
}

bool allow_descriptors(unsigned long count) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max < count) return false;
  limit.rlim_cur = limit.rlim_max;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::string run_in_child(const std::function<std::string()>& body, bool as_nobody) {
  int channel[2];
  check(pipe(channel) == 0, "pipe");
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    constexpr uid_t kNobody = 65534;
    std::string text = "child could not drop its privileges";
    // Without root the tests already run unprivileged.
    if (!as_nobody || geteuid() != 0 ||
        (setresgid(kNobody, kNobody, kNobody) == 0 && setresuid(kNobody, kNobody, kNobody) == 0)) {
      text = body();
    }
    const ssize_t written = write(channel[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " [child failed]";
  return text;
}

}  // namespace test_support

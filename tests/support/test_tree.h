// Real directories for the tests: a temporary folder made from a
// list of entries, removed at any depth afterwards, and children that run
// a piece of the test in a process of their own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace test_support {

// A fresh directory below the system's temporary folder, readable by every
// user, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string at(const std::string& relative) const { return path_ + "/" + relative; }

  // Each entry: "name/" a directory, "name -> target" a symbolic link,
  // "name|" a FIFO, "name=" a socket, anything else a file holding "x".
  // Parents must come before their children.
  void make(const std::vector<std::string>& entries) const;
  // True when the entry exists (a link counts as itself).
  bool exists(const std::string& relative) const;

 private:
  std::string path_;
};

// Removes a directory with everything below it, however deep.
void remove_tree(const std::string& path);

// Makes a chain of directories "d/d/d/..." levels deep below path, with one
// file named leaf in the deepest; paths there are far past PATH_MAX.
void make_deep_chain(const std::string& path, int levels, const std::string& leaf);

// Lets this process hold at least count open descriptors; false when the
// hard limit is lower.
bool allow_descriptors(unsigned long count);

// Runs body in a forked child (as user and group 65534 when as_nobody and
// running as root) and
// returns the text it produced; a child that fails to run says so.
std::string run_in_child(const std::function<std::string()>& body, bool as_nobody);

}  // namespace test_support

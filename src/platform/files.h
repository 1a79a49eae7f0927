// The file-system services the sweep relies on: directory listings, the
// probe that tells whether an entry can be entered as a directory, the erase,
// the current directory, and the two status words DOSERROR and INOUTRES.
//
// Directories are held open while they are walked and every entry is named
// relative to its own directory, so no path is ever cut short and no name is
// resolved twice. Paths as strings exist for the screen, the start directory
// and the roots only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The separator between directory names in the paths the sweep shows.
extern const char SEPARATOR;

// Pending I/O error number, 0 when none. A failed directory change, probe or
// erase stores its number here; while it is nonzero, directory changes and
// erases do nothing.
extern std::uint16_t INOUTRES;
// Returns the pending I/O error number and resets it to 0.
std::uint16_t IORESULT();

// Status of the last listing operation, 0 on success; 18 once a listing is
// exhausted or when a directory has no entries at all.
extern std::int16_t DOSERROR;

struct DirState;
struct ListingState;

// A directory that was entered: it can be listed, probed into and erased
// from. Move-only; closes itself. A Dir may be entered and still refuse to
// be listed (search but no read permission): its listing then fails with
// the stored number. An invalid Dir was not entered.
class Dir {
 public:
  Dir();
  ~Dir();
  Dir(Dir&&) noexcept;
  Dir& operator=(Dir&&) noexcept;
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;

  // True when the directory was entered.
  bool valid() const;
  // The I/O error number a listing of it fails with; 0 when it opened for
  // listing.
  std::uint16_t error() const;

 private:
  friend struct DirAccess;
  std::unique_ptr<DirState> state_;
};

// A listing record: NAME is the current entry's name. The rest belongs to
// the listing, which is closed when the record is destroyed.
struct Searchrec {
  Searchrec();
  ~Searchrec();
  Searchrec(const Searchrec&) = delete;
  Searchrec& operator=(const Searchrec&) = delete;

  std::string NAME;
  std::unique_ptr<ListingState> listing;
};

// A file variable: bound to one entry of a listing by ASSIGN, never opened.
struct File {
  const ListingState* listing = nullptr;
  std::string name;
};

// The directory a sweep starts from when it is given a root path. A relative
// path is resolved against the current directory first; symbolic links in
// the root path itself are followed, below it never. Does not touch INOUTRES.
Dir OPEN_ROOT(const std::string& path);

// The full form of a root argument as it is shown on the screen: a relative
// path resolved against the current directory.
std::string FULL_ROOT(const std::string& path);

// The roots an argument-less sweep probes one after the other, in order
// (drive roots C: to Z: where there are drive letters, the mount points of
// the file systems that hold files elsewhere). Their walks never cross into
// another of them.
std::vector<std::string> DRIVE_ROOTS();
// Probes one of DRIVE_ROOTS(): valid when it can be entered.
Dir OPEN_DRIVE_ROOT(const std::string& root);

// Begins a listing of the directory, which the listing then owns, and
// delivers its first entry into F.NAME. DOSERROR is 0 on success; on failure
// it holds the error number and F.NAME a non-empty text that names nothing
// and never matches.
void FINDFIRST(Dir dir, Searchrec& F);
// Delivers the next entry; on failure only DOSERROR changes (18 once the
// listing is exhausted).
void FINDNEXT(Searchrec& F);

// The probe: tries to enter F's current entry as a directory. On success the
// entered directory is returned; on failure an invalid Dir is returned and
// the error number is left pending in INOUTRES. Never follows a symbolic
// link and never enters a file system that holds no files. Does nothing
// (and returns an invalid Dir) while an I/O error is pending.
Dir PROBE(const Searchrec& F);

// Binds the file variable to F's current entry.
void ASSIGN(File& FF, const Searchrec& F);
// Deletes the entry FF is bound to (a symbolic link is removed as a link).
// On failure the I/O error number is left pending. Does nothing while an I/O
// error is pending.
void ERASE(const File& FF);

// The current directory, a full path.
std::string GETDIR();
// Makes path the current directory; on failure the I/O error number is left
// pending. Does nothing when path is empty or an I/O error is pending.
void CHDIR(const std::string& path);

}  // namespace platform

// Only Win32 code: listings, probes, erase and the current directory through
// the wide-character file calls, every path in its long form (\\?\).
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dir_access.h"
#include "platform/file_layer.h"
#include "platform/files.h"
#include "platform/io_numbers.h"
#include "platform/text_win32.h"

namespace platform {

const char SEPARATOR = '\\';

namespace {

// The number stored as the pending I/O error for a system error.
std::uint16_t io_error_number(DWORD error) {
  if (error >= ERROR_WRITE_PROTECT && error <= ERROR_GEN_FAILURE) {
    return static_cast<std::uint16_t>(error + 131);
  }
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_DIR_NOT_EMPTY ||
      error == ERROR_ALREADY_EXISTS) {
    return ACCESS_DENIED;
  }
  return static_cast<std::uint16_t>(error);
}

// A missing directory is a missing path.
std::uint16_t directory_change_error(DWORD error) {
  const std::uint16_t number = io_error_number(error);
  return number == FILE_NOT_FOUND ? PATH_NOT_FOUND : number;
}

// A listing's status: an empty listing is an exhausted one.
std::int16_t listing_status(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND) return NO_MORE_FILES;
  if (error == ERROR_INVALID_PARAMETER) return INVALID_DATA;
  return static_cast<std::int16_t>(error);
}

std::wstring child_path(const std::wstring& directory, const std::wstring& name) {
  return directory.back() == L'\\' ? directory + name : directory + L'\\' + name;
}

}  // namespace

// An entered directory, held open while it is walked. The handle does not
// share deletion, so neither the directory nor (by the system's own rule)
// any directory above it can be renamed or replaced meanwhile: its long path
// keeps naming the directory that was entered.
struct DirState {
  std::wstring path;
  HANDLE handle = INVALID_HANDLE_VALUE;

  ~DirState() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// One open listing and its current entry.
struct ListingState {
  std::unique_ptr<DirState> dir;
  HANDLE find = INVALID_HANDLE_VALUE;
  // The current entry's own name; NAME is its form for the screen.
  std::wstring entry;
  DWORD entry_attributes = 0;
  // False when NAME names nothing (the listing could not be begun): such a
  // record is never probed or erased on disk.
  bool has_entry = false;

  ~ListingState() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
};

Dir::Dir() = default;
Dir::~Dir() = default;
Dir::Dir(Dir&&) noexcept = default;
Dir& Dir::operator=(Dir&&) noexcept = default;
bool Dir::valid() const {
  return state_ != nullptr;
}
// Whether it may be listed shows only when the listing is begun.
std::uint16_t Dir::error() const {
  return state_ ? 0 : PATH_NOT_FOUND;
}

Searchrec::Searchrec() = default;
Searchrec::~Searchrec() = default;

namespace {

// Enters a directory as a directory change would (the right to traverse
// it). Below a root the entry is opened as itself: a junction or symbolic
// link is refused, so no walk leaves its tree or runs in a loop. Returns the
// I/O error number in error on failure.
Dir enter(const std::wstring& path, bool is_root, std::uint16_t& error) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (is_root ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle =
      CreateFileW(path.c_str(), FILE_TRAVERSE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = directory_change_error(GetLastError());
    return {};
  }
  auto state = std::make_unique<DirState>();
  state->path = path;
  state->handle = handle;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    error = io_error_number(GetLastError());
    return {};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = NOT_A_DIRECTORY;
    return {};
  }
  if (!is_root && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = ACCESS_DENIED;
    return {};
  }
  return DirAccess::make(std::move(state));
}

// A root of a walk, followed through junctions and links; a drive
// designator alone means the drive's root.
Dir open_root_directory(const std::string& path) {
  if (path.empty()) return {};
  std::uint16_t error = 0;
  return enter(long_path(full_path(path)), true, error);
}

void take_entry(ListingState& listing, Searchrec& F, const WIN32_FIND_DATAW& found) {
  listing.entry = found.cFileName;
  listing.entry_attributes = found.dwFileAttributes;
  listing.has_entry = true;
  F.NAME = screen_text(listing.entry);
}

}  // namespace

Dir OPEN_ROOT(const std::string& path) {
  return open_root_directory(path);
}

std::string FULL_ROOT(const std::string& path) {
  if (path.empty()) return path;
  return screen_text(full_path(path));
}

std::vector<std::string> DRIVE_ROOTS() {
  std::vector<std::string> roots;
  for (char letter = 'C'; letter <= 'Z'; ++letter) roots.push_back(std::string{letter, ':', '\\'});
  return roots;
}

// The system's error mode is left alone: its own handling of a drive
// without a medium applies.
Dir OPEN_DRIVE_ROOT(const std::string& root) {
  return open_root_directory(root);
}

void FINDFIRST(Dir dir, Searchrec& F) {
  DOSERROR = 0;
  F.listing = std::make_unique<ListingState>();
  ListingState& listing = *F.listing;
  listing.dir = DirAccess::take(dir);
  WIN32_FIND_DATAW found{};
  if (listing.dir)
    listing.find = FindFirstFileW(child_path(listing.dir->path, L"*").c_str(), &found);
  if (listing.find == INVALID_HANDLE_VALUE) {
    DOSERROR =
        listing.dir ? listing_status(GetLastError()) : static_cast<std::int16_t>(PATH_NOT_FOUND);
    F.NAME = NO_ENTRY_NAME;
    return;
  }
  take_entry(listing, F, found);
}

// On failure only DOSERROR changes; a listing that could not be begun, or
// is exhausted, fails again on every further call.
void FINDNEXT(Searchrec& F) {
  DOSERROR = 0;
  ListingState* listing = F.listing.get();
  WIN32_FIND_DATAW found{};
  if (listing == nullptr || listing->find == INVALID_HANDLE_VALUE) {
    DOSERROR = NO_MORE_FILES;
  } else if (!FindNextFileW(listing->find, &found)) {
    DOSERROR = listing_status(GetLastError());
  } else {
    take_entry(*listing, F, found);
  }
}

Dir PROBE(const Searchrec& F) {
  if (INOUTRES != 0) return {};
  const ListingState* listing = F.listing.get();
  if (listing == nullptr || !listing->has_entry) {
    INOUTRES = PATH_NOT_FOUND;
    return {};
  }
  // Wine opens a symbolic link's target even when asked for the link
  // itself; its listing still marks the link as a reparse point.
  if ((listing->entry_attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    INOUTRES = ACCESS_DENIED;
    return {};
  }
  std::uint16_t error = 0;
  Dir entered = enter(child_path(listing->dir->path, listing->entry), false, error);
  INOUTRES = error;
  return entered;
}

bool has_entry(const ListingState& listing) {
  return listing.has_entry;
}

// Hidden and system files go; a read-only one is refused (5). A directory
// is refused with access denied, which for a plain directory reads as "not
// found" (2).
std::uint16_t erase_entry(const ListingState& listing, const std::string&) {
  const std::wstring path = child_path(listing.dir->path, listing.entry);
  if (DeleteFileW(path.c_str())) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED &&
      GetFileAttributesW(path.c_str()) == FILE_ATTRIBUTE_DIRECTORY) {
    error = ERROR_FILE_NOT_FOUND;
  }
  return io_error_number(error);
}

std::string GETDIR() {
  return current_directory();
}

void CHDIR(const std::string& path) {
  if (path.empty() || INOUTRES != 0) return;
  if (!SetCurrentDirectoryW(wide_path(path).c_str())) {
    INOUTRES = directory_change_error(GetLastError());
  }
}

}  // namespace platform

// Only Win32 code: conversions between UTF-8, the console's code page and
// the system's wide characters, and the path forms the file calls take.
#include "platform/text_win32.h"

#include <windows.h>

#include <algorithm>

namespace platform {

namespace {

std::string narrow(std::wstring_view text, UINT code_page, DWORD flags) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(code_page, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(code_page, flags, text.data(), size, result.data(), bytes, nullptr, nullptr);
  return result;
}

std::wstring widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring result(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), chars);
  return result;
}

bool is_drive_designator(std::wstring_view path) {
  return path.size() == 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

}  // namespace

std::string utf8(std::wstring_view text) {
  return narrow(text, CP_UTF8, 0);
}

std::wstring wide_path(std::string_view path) {
  std::wstring wide = widen(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

std::wstring full_path(std::string_view path) {
  std::wstring wide = wide_path(path);
  if (is_drive_designator(wide)) wide += L'\\';
  if (wide.starts_with(L"\\\\?\\")) return wide;
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(length);
  return full;
}

std::wstring long_path(const std::wstring& full) {
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string screen_text(std::wstring_view text) {
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = GetACP();
  // UTF-8 takes no flags; every other code page is told to use no
  // look-alikes.
  return narrow(text, code_page, code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS);
}

std::string current_directory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring path(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, path.data());
  path.resize(length);
  return utf8(path);
}

}  // namespace platform

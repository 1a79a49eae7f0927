// Only Win32 code: the encodings of the texts that cross between the sweep's
// byte strings and the wide-character system calls.
//
// Paths the program keeps to itself (the command line's arguments, the start
// directory) are UTF-8, so they reach the system unchanged whatever their
// characters. Texts for the screen are in the console's output code page.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string utf8(std::wstring_view text);
// A path given in UTF-8, with every "/" made a "\".
std::wstring wide_path(std::string_view path);
// The full path of a UTF-8 path, resolved against the current directory; a
// drive designator alone ("c:") names the drive's root.
std::wstring full_path(std::string_view path);
// The long form of a full path (\\?\C:\..., \\?\UNC\server\...), which no
// length limit or name rewriting of the system applies to.
std::wstring long_path(const std::wstring& full);
// A text for the screen: a character the console cannot show becomes "?",
// never a look-alike (so no other name can read as THUMBS.DB).
std::string screen_text(std::wstring_view text);
// The process's current directory, in UTF-8.
std::string current_directory();

}  // namespace platform

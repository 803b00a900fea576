#pragma once
// The process's command line as one text, the way the option parser expects it.
#include <cstddef>
#include <string>
#include <vector>

namespace Platform {

// Joins the arguments by single spaces, quoting where the option grammar would not read an
// argument back whole: the value of "/NAME=value" when it holds white space or starts with
// "/" or "-" (/NAME="value with space", -extractTrackingUID="/tmp/x"), and any other argument
// holding white space as a whole. An empty argument is written as "" so that it keeps its place.
// An argument the grammar cannot hold whole is left out, so that no text of one argument is
// ever read as another option: one with a double quote inside (other than a value quoted as a
// whole), and one holding white space followed by "/" or "-" that is not the value of the bare
// option name before it. The 1-based positions of the arguments left out go to `leftOut`.
std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments,
                             std::vector<std::size_t>* leftOut = nullptr);

// The arguments after the program name (argv[1] on), decoded from UTF-8, joined as above.
std::wstring GetCommandLineText(int argc, const char* const* argv, std::vector<std::size_t>* leftOut = nullptr);

}  // namespace Platform

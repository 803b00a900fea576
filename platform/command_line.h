#pragma once
// The process's command line as one text, the way the option parser expects it.
#include <string>
#include <vector>

namespace Platform {

// Joins the arguments by single spaces, quoting where the option grammar would not read an
// argument back whole: the value of "/NAME=value" when it holds white space or starts with
// "/" or "-" (/NAME="value with space", -extractTrackingUID="/tmp/x"), and any other argument
// holding white space as a whole. An empty argument is written as "" so that it keeps its place.
std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments);

// The arguments after the program name (argv[1] on), decoded from UTF-8, joined as above.
std::wstring GetCommandLineText(int argc, const char* const* argv);

}  // namespace Platform

#pragma once
// Builds the files the suite-product code reads: registry entries from .reg text, plain files,
// and executables carrying version notes.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// Applies regedit-format text to the registry under $OMK_REGISTRY_ROOT (64-bit view; keys
// under SOFTWARE\Wow6432Node land in the 32-bit view). Fails the test on a parse error.
void ImportReg(const std::string& regText);

void WriteFile(const std::filesystem::path& path, const std::string& content);
std::string ReadFile(const std::filesystem::path& path);

// A copy of /bin/true with a ".note.omk.version" section holding the strings (made with
// objcopy); with no strings, a copy without the section.
void MakeExecutable(const std::filesystem::path& path,
                    const std::vector<std::pair<std::string, std::string>>& versionStrings = {});

// The installed suite's user settings file under a ProgramData root, and its text with the
// given tracking-UID line (such as "trackingUid={...}\n", or empty).
std::filesystem::path SuiteSettingsPath(const std::filesystem::path& programData);
std::string SuiteSettingsIni(const std::string& uidLine);

// Text with every "\" doubled, for paths inside .reg and JSON text.
std::string Escaped(const std::string& text);

}  // namespace TestSupport

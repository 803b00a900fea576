// omk-demo-note OUT KEY VALUE [KEY VALUE ...]: writes the contents of a ".note.omk.version"
// section holding the given version strings.
#include <fstream>
#include <iostream>

#include "platform/version_info.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) {
    std::cerr << "usage: omk-demo-note OUT KEY VALUE [KEY VALUE ...]\n";
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> strings;
  for (int i = 2; i + 1 < argc; i += 2) strings.emplace_back(argv[i], argv[i + 1]);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  const std::string note = Platform::MakeVersionNote(strings);
  out.write(note.data(), static_cast<std::streamsize>(note.size()));
  return out ? 0 : 1;
}

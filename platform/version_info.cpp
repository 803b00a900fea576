#include "platform/version_info.h"

#include <cstring>
#include <fstream>

namespace Platform {

namespace {

constexpr const char* kSectionName = ".note.omk.version";
constexpr uint32_t kNoteType = 1;
constexpr size_t kMaxSectionSize = 1u << 20;

class ElfReader {
 public:
  explicit ElfReader(const std::filesystem::path& file) : m_in(file, std::ios::binary) {}

  std::optional<std::string> FindSection(const std::string& wanted) {
    unsigned char ident[16] = {};
    if (!Read(0, ident, sizeof ident) || std::memcmp(ident, "\x7f" "ELF", 4) != 0) return std::nullopt;
    if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) return std::nullopt;
    m_64 = ident[4] == 2;
    m_little = ident[5] == 1;
    const uint64_t shoff = m_64 ? U64(0x28) : U32(0x20);
    const uint32_t shentsize = U16(m_64 ? 0x3A : 0x2E);
    const uint32_t shnum = U16(m_64 ? 0x3C : 0x30);
    const uint32_t shstrndx = U16(m_64 ? 0x3E : 0x32);
    if (m_failed || shoff == 0 || shnum == 0 || shstrndx >= shnum || shentsize < (m_64 ? 0x40u : 0x28u)) {
      return std::nullopt;
    }
    auto header = [&](uint32_t index, uint32_t& name, uint64_t& offset, uint64_t& size) {
      const uint64_t at = shoff + uint64_t{index} * shentsize;
      name = U32(at);
      offset = m_64 ? U64(at + 0x18) : U32(at + 0x10);
      size = m_64 ? U64(at + 0x20) : U32(at + 0x14);
      return !m_failed;
    };
    uint32_t name = 0;
    uint64_t strOffset = 0, strSize = 0;
    if (!header(shstrndx, name, strOffset, strSize)) return std::nullopt;
    const auto names = Bytes(strOffset, strSize);
    if (!names) return std::nullopt;
    for (uint32_t i = 0; i < shnum; ++i) {
      uint64_t offset = 0, size = 0;
      if (!header(i, name, offset, size)) return std::nullopt;
      if (name >= names->size()) continue;
      // c_str() ends in a NUL, so the name ends inside the string at the latest there.
      if (std::strcmp(names->c_str() + name, wanted.c_str()) == 0) {
        return Bytes(offset, size);
      }
    }
    return std::nullopt;
  }

 private:
  bool Read(uint64_t offset, void* out, size_t size) {
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(offset));
    m_in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<size_t>(m_in.gcount()) == size;
  }
  uint64_t Number(uint64_t offset, size_t width) {
    unsigned char b[8] = {};
    if (offset > (uint64_t{1} << 62) || !Read(offset, b, width)) {
      m_failed = true;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= uint64_t{b[m_little ? i : width - 1 - i]} << (8 * i);
    return v;
  }
  uint32_t U16(uint64_t offset) { return static_cast<uint32_t>(Number(offset, 2)); }
  uint32_t U32(uint64_t offset) { return static_cast<uint32_t>(Number(offset, 4)); }
  uint64_t U64(uint64_t offset) { return Number(offset, 8); }
  std::optional<std::string> Bytes(uint64_t offset, uint64_t size) {
    if (size > kMaxSectionSize || offset > (uint64_t{1} << 62)) return std::nullopt;
    std::string data(size, '\0');
    if (!Read(offset, data.data(), data.size())) return std::nullopt;
    return data;
  }

  std::ifstream m_in;
  bool m_64 = true;
  bool m_little = true;
  bool m_failed = false;
};

uint32_t LittleEndian32(const std::string& data, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= uint32_t{static_cast<unsigned char>(data[at + i])} << (8 * i);
  return v;
}

size_t Aligned4(size_t n) { return (n + 3) & ~size_t{3}; }

}  // namespace

std::optional<std::map<std::string, std::string>> ReadVersionStrings(const std::filesystem::path& file) {
  const auto section = ElfReader(file).FindSection(kSectionName);
  if (!section) return std::nullopt;
  const std::string& data = *section;
  // Notes are written little-endian by MakeVersionNote (the section is copied in as bytes).
  size_t at = 0;
  while (at + 12 <= data.size()) {
    const size_t nameSize = LittleEndian32(data, at), descSize = LittleEndian32(data, at + 4);
    const uint32_t type = LittleEndian32(data, at + 8);
    at += 12;
    if (nameSize > data.size() - at || Aligned4(nameSize) > data.size() - at) return std::nullopt;
    const std::string owner = data.substr(at, nameSize);
    at += Aligned4(nameSize);
    if (descSize > data.size() - at) return std::nullopt;
    const std::string desc = data.substr(at, descSize);
    at += std::min(Aligned4(descSize), data.size() - at);
    if (owner != std::string("OMK", 4) || type != kNoteType) continue;
    std::map<std::string, std::string> strings;
    size_t pos = 0;
    while (pos < desc.size()) {
      const size_t keyEnd = desc.find('\0', pos);
      if (keyEnd == std::string::npos) return std::nullopt;
      const size_t valueEnd = desc.find('\0', keyEnd + 1);
      if (valueEnd == std::string::npos) return std::nullopt;
      strings.emplace(desc.substr(pos, keyEnd - pos), desc.substr(keyEnd + 1, valueEnd - keyEnd - 1));
      pos = valueEnd + 1;
    }
    return strings;
  }
  return std::nullopt;
}

std::optional<std::array<uint16_t, 4>> GetFileVersionNumbers(const std::filesystem::path& file) {
  const auto strings = ReadVersionStrings(file);
  if (!strings) return std::nullopt;
  const auto it = strings->find("FileVersion");
  if (it == strings->end()) return std::nullopt;
  const std::string& text = it->second;
  std::array<uint16_t, 4> numbers{};
  size_t pos = 0;
  for (size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') break;
      ++pos;
    }
    uint32_t value = 0;
    const size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value <= 65535) {
      value = value * 10 + static_cast<uint32_t>(text[pos++] - '0');
    }
    if (pos == start || value > 65535) return std::nullopt;
    numbers[part] = static_cast<uint16_t>(value);
  }
  return numbers;
}

std::string MakeVersionNote(const std::vector<std::pair<std::string, std::string>>& strings) {
  std::string desc;
  for (const auto& [key, value] : strings) {
    desc += key;
    desc.push_back('\0');
    desc += value;
    desc.push_back('\0');
  }
  std::string note;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) note.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  put32(4);
  put32(static_cast<uint32_t>(desc.size()));
  put32(kNoteType);
  note.append("OMK\0", 4);
  note += desc;
  note.append(Aligned4(desc.size()) - desc.size(), '\0');
  return note;
}

}  // namespace Platform

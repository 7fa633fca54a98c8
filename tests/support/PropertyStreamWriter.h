// Writes "\005DocumentSummaryInformation" streams for tests: a document summary
// section holding a code page, then the user-defined section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct PropertySpec {
  std::string name;
  uint16_t type = 0x001E; // VT_LPSTR
  std::string value;      // bytes as stored (no NUL); an int for VT_I4 as decimal
};

inline void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Pad4(std::string& s) {
  while (s.size() % 4)
    s += '\0';
}

inline std::string UserSection(const std::vector<PropertySpec>& props, uint16_t codePage = 1252) {
  std::vector<std::string> values; // id 0 dictionary, id 1 code page, then 2..N
  std::string dict;
  Put32(dict, static_cast<uint32_t>(props.size()));
  for (size_t i = 0; i < props.size(); ++i) {
    Put32(dict, static_cast<uint32_t>(i + 2));
    Put32(dict, static_cast<uint32_t>(props[i].name.size() + 1));
    dict += props[i].name;
    dict += '\0';
  }
  Pad4(dict);
  values.push_back(dict);
  std::string cp;
  Put16(cp, 0x0002);
  Put16(cp, 0);
  Put16(cp, codePage);
  Put16(cp, 0);
  values.push_back(cp);
  for (const PropertySpec& p : props) {
    std::string v;
    Put16(v, p.type);
    Put16(v, 0);
    if (p.type == 0x001E) {
      Put32(v, static_cast<uint32_t>(p.value.size() + 1));
      v += p.value;
      v += '\0';
    } else {
      Put32(v, static_cast<uint32_t>(std::stoul(p.value)));
    }
    Pad4(v);
    values.push_back(v);
  }
  const uint32_t count = static_cast<uint32_t>(values.size());
  std::string body;
  uint32_t offset = 8 + count * 8;
  std::string table;
  for (uint32_t i = 0; i < count; ++i) {
    Put32(table, i); // ids 0, 1, 2..
    Put32(table, offset);
    offset += static_cast<uint32_t>(values[i].size());
  }
  for (const std::string& v : values)
    body += v;
  std::string section;
  Put32(section, 8 + static_cast<uint32_t>(table.size() + body.size()));
  Put32(section, count);
  return section + table + body;
}

inline std::string PropertyStream(const std::vector<PropertySpec>& props,
                                  uint16_t codePage = 1252) {
  static const unsigned char docSummary[16] = {0x02, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                               0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
  static const unsigned char userDefined[16] = {0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10,
                                                0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};
  std::string first; // size, count, (id 1, offset 16), the code page
  Put32(first, 24);
  Put32(first, 1);
  Put32(first, 1);
  Put32(first, 16);
  Put16(first, 0x0002);
  Put16(first, 0);
  Put16(first, codePage);
  Put16(first, 0);
  std::string second = UserSection(props, codePage);
  std::string s;
  Put16(s, 0xFFFE);
  Put16(s, 0);
  Put32(s, 0x00020006);
  s += std::string(16, '\0');
  Put32(s, 2);
  s.append(reinterpret_cast<const char*>(docSummary), 16);
  Put32(s, 68);
  s.append(reinterpret_cast<const char*>(userDefined), 16);
  Put32(s, 68 + static_cast<uint32_t>(first.size()));
  return s + first + second;
}

} // namespace testsupport

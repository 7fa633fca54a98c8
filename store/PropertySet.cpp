#include "store/PropertySet.h"

#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/Storage.h"
#include "store/CompoundFileCheck.h"

#include <algorithm>
#include <array>

namespace store {

namespace {

constexpr uint32_t kDictionaryId = 0;
constexpr uint32_t kCodePageId = 1;
constexpr uint16_t kVtI2 = 0x0002;
constexpr uint16_t kCodePageUnicode = 1200;
constexpr uint16_t kCodePageUtf8 = 65001;

// {D5CDD505-2E9C-101B-9397-08002B2CF9AE} as stored (little-endian fields).
constexpr std::array<unsigned char, 16> kUserDefinedFmtid = {
    0x05, 0xD5, 0xCD, 0xD5, 0x9C, 0x2E, 0x1B, 0x10, 0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE};

// Bounds-checked little-endian reads over the stream.
class Reader {
public:
  explicit Reader(std::string_view data) : d_(data) {}
  bool Has(size_t offset, size_t length) const {
    return offset <= d_.size() && length <= d_.size() - offset;
  }
  uint16_t U16(size_t o) const { return bytes::Le16(d_, o); }
  uint32_t U32(size_t o) const { return bytes::Le32(d_, o); }
  std::string_view Bytes(size_t o, size_t n) const { return d_.substr(o, n); }

private:
  std::string_view d_;
};

// Windows-1252's characters for 0x80..0x9F; the rest of the page is Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// Code-page text to UTF-8, trailing NULs removed.
std::string Decode(std::string_view bytes, uint16_t codePage) {
  if (codePage == kCodePageUnicode) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                    (static_cast<unsigned char>(bytes[i + 1]) << 8));
    while (!wide.empty() && wide.back() == 0)
      wide.pop_back();
    return text::Utf16ToUtf8(wide);
  }
  while (!bytes.empty() && bytes.back() == 0)
    bytes.remove_suffix(1);
  if (codePage == kCodePageUtf8)
    return text::Utf16ToUtf8(text::Utf8ToUtf16(bytes));
  std::u16string wide;
  for (unsigned char c : bytes)
    wide += (c >= 0x80 && c <= 0x9F) ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
  return text::Utf16ToUtf8(wide);
}

size_t Align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

} // namespace

std::optional<std::vector<UserProperty>> ParseUserDefinedProperties(std::string_view stream) {
  Reader r(stream);
  // Header: byte order, version, system id, class id, section count, then
  // (format id, offset) per section.
  if (!r.Has(0, 28) || r.U16(0) != 0xFFFE)
    return std::nullopt;
  uint32_t sections = r.U32(24);
  if (sections < 1 || sections > 2 || !r.Has(28, sections * 20u))
    return std::nullopt;
  std::optional<size_t> section;
  for (uint32_t i = 0; i < sections; ++i) {
    std::string_view fmtid = r.Bytes(28 + i * 20, 16);
    if (std::equal(fmtid.begin(), fmtid.end(), kUserDefinedFmtid.begin(),
                   [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }))
      section = r.U32(28 + i * 20 + 16);
  }
  if (!section || !r.Has(*section, 8))
    return std::nullopt;
  const size_t base = *section;
  const uint32_t size = r.U32(base);
  const uint32_t count = r.U32(base + 4);
  if (size < 8 || !r.Has(base, size) || count > (size - 8) / 8)
    return std::nullopt;
  Reader s(r.Bytes(base, size));

  struct Entry {
    uint32_t id;
    uint32_t offset;
  };
  std::vector<Entry> entries;
  entries.reserve(count);
  uint16_t codePage = 1252;
  std::optional<uint32_t> dictionaryOffset;
  for (uint32_t i = 0; i < count; ++i) {
    Entry e{s.U32(8 + i * 8), s.U32(12 + i * 8)};
    if (!s.Has(e.offset, 4))
      return std::nullopt;
    if (e.id == kDictionaryId)
      dictionaryOffset = e.offset;
    else if (e.id == kCodePageId && s.U16(e.offset) == kVtI2 && s.Has(e.offset, 6))
      codePage = s.U16(e.offset + 4);
    else if (e.id < 0x80000000u)
      entries.push_back(e);
  }

  // The dictionary: count, then (id, length in characters with the NUL, name).
  std::vector<std::pair<uint32_t, std::string>> names;
  if (dictionaryOffset) {
    size_t pos = *dictionaryOffset;
    uint32_t n = s.U32(pos);
    pos += 4;
    if (n > size / 8)
      return std::nullopt;
    const size_t charSize = codePage == kCodePageUnicode ? 2 : 1;
    for (uint32_t i = 0; i < n; ++i) {
      if (!s.Has(pos, 8))
        return std::nullopt;
      uint32_t id = s.U32(pos);
      uint32_t length = s.U32(pos + 4);
      pos += 8;
      if (length > size || !s.Has(pos, length * charSize))
        return std::nullopt;
      names.emplace_back(id, Decode(s.Bytes(pos, length * charSize), codePage));
      pos += length * charSize;
      if (charSize == 2)
        pos = Align4(pos);
    }
  }

  std::vector<UserProperty> out;
  for (const Entry& e : entries) {
    UserProperty p;
    p.id = e.id;
    for (const auto& [id, name] : names)
      if (id == e.id) {
        p.name = name;
        break;
      }
    p.type = s.U16(e.offset);
    if (p.type == kVtLpstr) {
      if (!s.Has(e.offset + 4, 4))
        return std::nullopt;
      uint32_t bytes = s.U32(e.offset + 4);
      if (!s.Has(e.offset + 8, bytes))
        return std::nullopt;
      p.text = Decode(s.Bytes(e.offset + 8, bytes), codePage);
    }
    out.push_back(std::move(p));
  }
  return out;
}

bool PropertyList::Has(const std::string& name) const {
  for (const std::string& line : lines)
    if (text::EqualsIgnoreCase(line.substr(0, line.find('=')), name))
      return true;
  return false;
}

std::string PropertyList::Value(const std::string& name) const {
  for (const std::string& line : lines) {
    size_t eq = line.find('=');
    if (text::EqualsIgnoreCase(line.substr(0, eq), name))
      return eq == std::string::npos ? std::string() : line.substr(eq + 1);
  }
  return {};
}

bool IsCompoundDocument(plat::Services& s, const std::string& FileName) {
  return s.storage.IsStorageFile(FileName) && CompoundFileIsSound(s.files, FileName);
}

PropertyList GetFileUserDefinedInfo(plat::Services& s, const std::string& FileName) {
  PropertyList list;
  if (!IsCompoundDocument(s, FileName))
    return list;
  std::optional<std::string> stream =
      s.storage.ReadRootStream(FileName, u"\x0005"
                                         u"DocumentSummaryInformation");
  if (!stream)
    return list;
  std::optional<std::vector<UserProperty>> properties = ParseUserDefinedProperties(*stream);
  if (!properties)
    return list;
  // Only non-empty code-page strings make it into the list.
  for (const UserProperty& p : *properties)
    if (p.type == kVtLpstr && p.text && !p.text->empty())
      list.lines.push_back(p.name + "=" + *p.text);
  return list;
}

} // namespace store

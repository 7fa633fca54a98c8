#include "platform/fake/FakeStructuredStorage.h"

namespace fake {

namespace {
void Put32At(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
} // namespace

std::string MinimalCompoundFile(uint32_t tag, uint32_t streamSize) {
  const uint32_t streamSectors = (streamSize + 511) / 512;
  std::string b(512 * (3 + streamSectors), '\0');
  const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; ++i)
    b[i] = static_cast<char>(signature[i]);
  b[24] = 0x3E;                                                     // minor version
  b[26] = 3;                                                        // major version
  b[28] = static_cast<char>(0xFE), b[29] = static_cast<char>(0xFF); // byte order
  b[30] = 9;                                                        // 512-byte sectors
  b[32] = 6;                                                        // 64-byte mini sectors
  Put32At(b, 44, 1);                                                // one FAT sector
  Put32At(b, 48, 1);                                                // directory at sector 1
  Put32At(b, 56, 4096);                                             // mini stream cutoff
  Put32At(b, 60, 0xFFFFFFFE);                                       // no mini FAT
  Put32At(b, 68, 0xFFFFFFFE);                                       // no DIFAT sectors
  for (int i = 0; i < 109; ++i)
    Put32At(b, 76 + i * 4, i == 0 ? 0 : 0xFFFFFFFF);
  const size_t fat = 512;
  for (int i = 0; i < 128; ++i)
    Put32At(b, fat + i * 4, 0xFFFFFFFF);
  Put32At(b, fat, 0xFFFFFFFD);     // the FAT's own sector
  Put32At(b, fat + 4, 0xFFFFFFFE); // the directory: one sector
  for (uint32_t i = 0; i < streamSectors; ++i)
    Put32At(b, fat + (2 + i) * 4, i + 1 == streamSectors ? 0xFFFFFFFE : 3 + i);
  const size_t dir = 1024;
  const char16_t rootName[] = u"Root Entry";
  for (int i = 0; i < 10; ++i)
    b[dir + i * 2] = static_cast<char>(rootName[i]);
  b[dir + 64] = 22;
  b[dir + 66] = 5; // root storage
  b[dir + 67] = 1;
  for (size_t link : {68, 72, 76})
    Put32At(b, dir + link, 0xFFFFFFFF);
  Put32At(b, dir + 80, tag);
  Put32At(b, dir + 116, 0xFFFFFFFE);
  for (int e = 1; e < 4; ++e)
    for (size_t link : {68, 72, 76})
      Put32At(b, dir + e * 128 + link, 0xFFFFFFFF);
  if (streamSize) {
    Put32At(b, dir + 76, 1); // the root's child
    const size_t entry = dir + 128;
    b[entry] = 'S';
    b[entry + 64] = 4;
    b[entry + 66] = 2; // stream
    b[entry + 67] = 1;
    Put32At(b, entry + 116, 2);
    Put32At(b, entry + 120, streamSize);
  }
  return b;
}

void FakeStructuredStorage::Add(const std::string& path,
                                std::map<std::u16string, std::string> streams) {
  // The file's bytes name the document, so copies of it are documents too.
  std::string bytes = MinimalCompoundFile(static_cast<uint32_t>(documents.size() + 1));
  files_.AddFile(path, bytes);
  documents[bytes] = std::move(streams);
}

bool FakeStructuredStorage::IsStorageFile(const std::string& path) {
  return files_.FileExists(path) && documents.count(files_.Contents(path)) > 0;
}

std::optional<std::string> FakeStructuredStorage::ReadRootStream(const std::string& path,
                                                                 const std::u16string& name) {
  if (!files_.FileExists(path))
    return std::nullopt;
  auto doc = documents.find(files_.Contents(path));
  if (doc == documents.end())
    return std::nullopt;
  auto stream = doc->second.find(name);
  if (stream == doc->second.end())
    return std::nullopt;
  return stream->second;
}

} // namespace fake

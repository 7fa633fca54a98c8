// OLE structured storage (compound files), the settings file's XML, and the
// security token queries.
#pragma once

#include <optional>
#include <string>

namespace plat {

class IStructuredStorage {
public:
  virtual ~IStructuredStorage() = default;
  // True when the file exists and carries the compound-file signature.
  virtual bool IsStorageFile(const std::string& path) = 0;
  // The whole stream `streamName` of the root storage, the file opened
  // read-only and denying other writers; nothing when the file or the stream
  // cannot be opened or read.
  virtual std::optional<std::string> ReadRootStream(const std::string& path,
                                                    const std::u16string& streamName) = 0;
};

// One attribute of an XML file, found by an XPath expression.
class IXmlFile {
public:
  virtual ~IXmlFile() = default;
  // The text of the first node matching `xpath`; raises PlatformError when the
  // file cannot be loaded or parsed, or nothing matches.
  virtual std::string ReadFirst(const std::string& path, const std::string& xpath) = 0;
  // Sets the text of the first node matching `xpath` and writes the whole
  // document back to the same file. Raises on any failure.
  virtual void WriteFirst(const std::string& path, const std::string& xpath,
                          const std::string& value) = 0;
};

class ISecurity {
public:
  virtual ~ISecurity() = default;
  // Major version of the running system.
  virtual unsigned OsMajorVersion() = 0;
  // The thread's token (the process's when the thread has none) asked for its
  // elevation; nothing when no token opens or the query fails.
  virtual std::optional<bool> TokenElevated() = 0;
  // Whether the caller's token is in the built-in Administrators group; raises
  // when the group's identifier cannot be built.
  virtual bool InAdministratorsGroup() = 0;
};

} // namespace plat

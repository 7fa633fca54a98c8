// Just enough XML for the settings file.
#pragma once

#include "platform/Storage.h"
#include "platform/fake/FakeFileSystem.h"

#include <string>

namespace fake {

// Understands just enough XML for the settings file: an attribute in double
// quotes of the first element of a name ("//PackageFolder/@baseURI"), or of
// its n-th ("(//CertificatePolicy/Pin)[2]/@sha256"). A write replaces
// the file whole through a file beside it, as the real one does.
class FakeXmlFile : public plat::IXmlFile {
public:
  explicit FakeXmlFile(FakeFileSystem& files) : files_(files) {}
  std::string ReadFirst(const std::string& path, const std::string& xpath) override;
  void WriteFirst(const std::string& path, const std::string& xpath,
                  const std::string& value) override;

private:
  FakeFileSystem& files_;
};

} // namespace fake

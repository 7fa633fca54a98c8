#include "platform/fake/FakePlatform.h"

#include "common/Text.h"

#include <algorithm>

namespace fake {

std::string FakeSystem::EnvironmentVariable(const std::string& name) {
  for (const auto& [key, value] : environment)
    if (text::EqualsIgnoreCase(key, name))
      return value;
  return {};
}

void FakeSystem::Sleep(uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  tick += milliseconds;
}

namespace {
class FakeNamedLock : public plat::NamedLock {
public:
  FakeNamedLock(FakeSystem& system, std::string name) : system_(system), name_(std::move(name)) {
    ++system_.locksHeld[name_];
    system_.lockJournal.push_back("lock " + name_);
  }
  ~FakeNamedLock() override {
    if (--system_.locksHeld[name_] == 0)
      system_.locksHeld.erase(name_);
    system_.lockJournal.push_back("unlock " + name_);
  }
  FakeNamedLock(const FakeNamedLock&) = delete;
  FakeNamedLock& operator=(const FakeNamedLock&) = delete;

private:
  FakeSystem& system_;
  std::string name_;
};
} // namespace

std::unique_ptr<plat::NamedLock> FakeSystem::AcquireNamedLock(const std::string& name,
                                                              uint32_t waitMs) {
  if (!namedLocksWork)
    throw plat::PlatformError("Cannot create the lock " + name + ".");
  if (locksHeldElsewhere.count(name)) {
    tick += waitMs;
    return nullptr;
  }
  return std::make_unique<FakeNamedLock>(*this, name);
}

// ---------------------------------------------------------------------------

std::string FakeFileSystem::Normalize(const std::string& path) const {
  std::string p = path;
  std::replace(p.begin(), p.end(), '/', '\\');
  bool rooted = p.size() >= 2 && p[1] == ':';
  if (!rooted) {
    if (!p.empty() && p[0] == '\\')
      p = workingDirectory.substr(0, 2) + p;
    else
      p = workingDirectory + "\\" + p;
  }
  // Collapse ".", ".." and doubled separators the way the system does.
  std::vector<std::string> parts;
  for (const std::string& part : text::Split(p, '\\')) {
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      if (parts.size() > 1)
        parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i)
    out += (i ? "\\" : "") + parts[i];
  return text::ToLowerAscii(out);
}

bool FakeFileSystem::ParentExists(const std::string& key) const {
  size_t slash = key.rfind('\\');
  if (slash == std::string::npos)
    return drives.count(key) > 0;
  std::string parent = key.substr(0, slash);
  return parent.find('\\') == std::string::npos ? drives.count(parent) > 0
                                                : dirs_.count(parent) > 0;
}

bool FakeFileSystem::FileExists(const std::string& path) {
  journal.push_back("exists " + path);
  if (path.empty())
    return false;
  return files_.count(Normalize(path)) > 0;
}

bool FakeFileSystem::DirectoryExists(const std::string& path) {
  if (path.empty())
    return false;
  std::string key = Normalize(path);
  return dirs_.count(key) > 0 || drives.count(key) > 0;
}

std::string FakeFileSystem::ReadFile(const std::string& path) {
  journal.push_back("read " + path);
  auto it = files_.find(Normalize(path));
  if (it == files_.end() || unreadable.count(path))
    throw plat::PlatformError("Cannot open file \"" + path + "\".");
  return it->second;
}

std::optional<uint64_t> FakeFileSystem::FileSize(const std::string& path) {
  auto it = files_.find(Normalize(path));
  if (it == files_.end())
    return std::nullopt;
  return it->second.size();
}

std::string FakeFileSystem::ReadFileRange(const std::string& path, uint64_t offset, size_t length) {
  std::string bytes = ReadFile(path);
  if (offset >= bytes.size())
    return {};
  return bytes.substr(static_cast<size_t>(offset), length);
}

void FakeFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  journal.push_back("write " + path);
  std::string key = Normalize(path);
  if (unwritable.count(path) || !ParentExists(key) || dirs_.count(key))
    throw plat::PlatformError("Cannot create file \"" + path + "\".");
  files_[key] = bytes;
}

void FakeFileSystem::DeleteFile(const std::string& path) {
  journal.push_back("delete " + path);
  if (undeletable.count(path))
    throw plat::PlatformError("Cannot delete file \"" + path + "\". Access is denied.");
  files_.erase(Normalize(path));
}

bool FakeFileSystem::CreateDirectories(const std::string& path) {
  journal.push_back("mkdir " + path);
  if (uncreatable.count(path))
    return false;
  std::string key = Normalize(path);
  std::vector<std::string> parts = text::Split(key, '\\');
  if (parts.empty() || drives.count(parts[0]) == 0)
    return false;
  std::string current = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    current += "\\" + parts[i];
    if (files_.count(current))
      return false;
    dirs_.insert(current);
  }
  return true;
}

bool FakeFileSystem::CreateNewDirectory(const std::string& path) {
  journal.push_back("mkdir-new " + path);
  std::string key = Normalize(path);
  if (uncreatable.count(path) || !ParentExists(key) || dirs_.count(key) || files_.count(key))
    return false;
  dirs_.insert(key);
  return true;
}

void FakeFileSystem::MoveFile(const std::string& from, const std::string& to) {
  journal.push_back("move " + from + " " + to);
  auto it = files_.find(Normalize(from));
  std::string target = Normalize(to);
  if (it == files_.end() || unwritable.count(to) || !ParentExists(target))
    throw plat::PlatformError("Cannot move \"" + from + "\" to \"" + to + "\".");
  std::string bytes = it->second;
  files_.erase(it);
  files_[target] = bytes;
}

void FakeFileSystem::CopyFile(const std::string& from, const std::string& to) {
  journal.push_back("copy " + from + " " + to);
  auto it = files_.find(Normalize(from));
  std::string target = Normalize(to);
  if (it == files_.end() || unwritable.count(to) || !ParentExists(target))
    throw plat::PlatformError("Cannot copy \"" + from + "\" to \"" + to + "\".");
  files_[target] = it->second;
}

void FakeFileSystem::DeleteTree(const std::string& path) {
  journal.push_back("rmtree " + path);
  if (undeletable.count(path))
    throw plat::PlatformError("Cannot delete folder \"" + path + "\".");
  std::string key = Normalize(path);
  std::string prefix = key + "\\";
  for (auto it = files_.begin(); it != files_.end();)
    it = it->first.rfind(prefix, 0) == 0 ? files_.erase(it) : std::next(it);
  for (auto it = dirs_.begin(); it != dirs_.end();)
    it = (*it == key || it->rfind(prefix, 0) == 0) ? dirs_.erase(it) : std::next(it);
}

void FakeFileSystem::CopyTree(const std::string& from, const std::string& to) {
  journal.push_back("copytree " + from + " " + to);
  std::string src = Normalize(from);
  if (!dirs_.count(src))
    throw plat::PlatformError("Cannot copy folder \"" + from + "\".");
  std::string dst = Normalize(to);
  CreateDirectories(to);
  std::string prefix = src + "\\";
  std::vector<std::pair<std::string, std::string>> copies;
  for (const auto& [key, bytes] : files_)
    if (key.rfind(prefix, 0) == 0)
      copies.emplace_back(dst + key.substr(src.size()), bytes);
  for (const std::string& dir : std::set<std::string>(dirs_))
    if (dir.rfind(prefix, 0) == 0)
      dirs_.insert(dst + dir.substr(src.size()));
  for (auto& [key, bytes] : copies)
    files_[key] = bytes;
}

void FakeFileSystem::MoveFolder(const std::string& from, const std::string& to) {
  journal.push_back("movedir " + from + " " + to);
  if (onMoveFolder)
    onMoveFolder(from, to);
  const std::string src = Normalize(from);
  const std::string dst = Normalize(to);
  if (!dirs_.count(src) || dirs_.count(dst) || files_.count(dst) || !ParentExists(dst) ||
      dst.rfind(src + "\\", 0) == 0 || unwritable.count(to))
    throw plat::PlatformError("Cannot move folder \"" + from + "\" to \"" + to + "\".");
  auto moved = [&](const std::string& key) -> std::optional<std::string> {
    if (key == src)
      return dst;
    if (key.rfind(src + "\\", 0) == 0)
      return dst + key.substr(src.size());
    return std::nullopt;
  };
  std::map<std::string, std::string> files;
  for (auto& [key, bytes] : files_)
    files[moved(key).value_or(key)] = std::move(bytes);
  files_ = std::move(files);
  std::set<std::string> dirs;
  for (const std::string& dir : dirs_)
    dirs.insert(moved(dir).value_or(dir));
  dirs_ = std::move(dirs);
}

std::optional<uint64_t> FakeFileSystem::FreeSpace(const std::string& path) {
  const std::string drive = Normalize(path).substr(0, 2);
  auto it = freeBytes.find(drive);
  return it == freeBytes.end() ? uint64_t{1} << 40 : it->second;
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& bytes) {
  std::string key = Normalize(path);
  size_t slash = key.rfind('\\');
  if (slash != std::string::npos && slash > 2) {
    std::string parent = key.substr(0, slash);
    std::vector<std::string> parts = text::Split(parent, '\\');
    std::string current = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
      current += "\\" + parts[i];
      dirs_.insert(current);
    }
  }
  files_[key] = bytes;
}

std::string FakeFileSystem::Contents(const std::string& path) const {
  auto it = files_.find(Normalize(path));
  return it == files_.end() ? std::string() : it->second;
}

std::vector<std::string> FakeFileSystem::AllFiles() const {
  std::vector<std::string> out;
  for (const auto& [key, value] : files_)
    out.push_back(key);
  return out;
}

std::vector<std::string> FakeFileSystem::Below(const std::string& folder) const {
  const std::string prefix = Normalize(folder) + "\\";
  std::vector<std::string> found;
  for (const auto& list : {AllDirectories(), AllFiles()})
    for (const std::string& path : list)
      if (path.rfind(prefix, 0) == 0)
        found.push_back(path.substr(prefix.size()));
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> FakeFileSystem::AllDirectories() const {
  return std::vector<std::string>(dirs_.begin(), dirs_.end());
}

// ---------------------------------------------------------------------------

void FakeUi::ShowMessage(plat::MessageKind kind, const std::string& text) {
  bool icon = iconsOn && kind != plat::MessageKind::Confirmation;
  messages.push_back({kind, text, icon});
  if (onMessage)
    onMessage(messages.back());
}

void FakeUi::ProcessMessages() {
  ++processMessagesCalls;
  if (onProcessMessages)
    onProcessMessages();
}

std::optional<std::string> FakeUi::PickFolder(const std::string& title,
                                              const std::string& okLabel) {
  folderRequests.emplace_back(title, okLabel);
  if (folderAnswers.empty())
    return std::nullopt;
  auto answer = folderAnswers.front();
  folderAnswers.erase(folderAnswers.begin());
  return answer;
}

std::optional<std::string> FakeUi::OpenFile(const std::string& title, const std::string& filter) {
  fileRequests.emplace_back(title, filter);
  if (fileAnswers.empty())
    return std::nullopt;
  auto answer = fileAnswers.front();
  fileAnswers.erase(fileAnswers.begin());
  return answer;
}

// ---------------------------------------------------------------------------

FakeFormView::FakeFormView(plat::IFormEvents& events) : events_(events) {
  for (const plat::ControlLayout& c : plat::kLoginFormLayout) {
    texts[c.id] = c.caption;
    visible[c.id] = true;
  }
}

std::string FakeFormView::Text(plat::ControlId control) {
  return texts[control];
}

void FakeFormView::SetText(plat::ControlId control, const std::string& text) {
  texts[control] = text;
}

void FakeFormView::SetProgressText(const std::string& text) {
  progressText = text;
  progressShown.push_back(text);
}

bool FakeFormView::Visible(plat::ControlId control) {
  return visible[control];
}

void FakeFormView::SetVisible(plat::ControlId control, bool v) {
  visible[control] = v;
}

void FakeFormView::SetEnabled(plat::ControlId control, bool enabled) {
  if (enabled)
    disabled.erase(control);
  else
    disabled.insert(control);
}

void FakeFormView::Show() {
  shown = true;
  events_.FormShow();
}

void FakeFormView::SelectMode(int index) {
  if (itemIndex == index)
    return;
  itemIndex = index;
  events_.OperationalModeSelected(index);
}

std::unique_ptr<plat::IFormView> FakeToolkit::CreateLoginWindow(plat::IFormEvents& e) {
  auto created = std::make_unique<FakeFormView>(e);
  view = created.get();
  events = &e;
  return created;
}

void FakeToolkit::RunMessageLoop() {
  loopSawShownWindow = view && view->shown;
  // The only queued work a test needs from the loop is the timer's tick.
  while (view && !view->closed && view->timerEnabled)
    events->Timer1Timer();
}

} // namespace fake

// ---------------------------------------------------------------------------

namespace fake {

std::optional<plat::HttpResponse> FakeHttpTransport::Send(const plat::HttpRequest& request,
                                                          std::string& error) {
  requests.push_back(request);
  size_t scheme = request.url.find("://");
  size_t pathStart = request.url.find('/', scheme + 3);
  std::string authority = request.url.substr(scheme + 3, pathStart - scheme - 3);
  std::string path = pathStart == std::string::npos ? "/" : request.url.substr(pathStart);
  size_t colon = authority.rfind(':');
  int port = 443;
  if (colon != std::string::npos) {
    auto parsed = text::ParseInt32(authority.substr(colon + 1));
    port = parsed ? *parsed : -1;
  }
  requestPorts.push_back(port);
  certificateAccepted = hook_ && hook_();
  std::optional<plat::HttpResponse> response;
  if (port < 0 || authority.find(' ') != std::string::npos) {
    error = "malformed address";
  } else if (!openPorts.count(port)) {
    error = "connection refused";
  } else {
    if (onRequest)
      onRequest(request);
    auto route = routes.find(request.method + " " + path);
    response = route == routes.end() ? std::optional(Answer(404, "not found"))
                                     : route->second(request, error);
  }
  // As the real transport: a body that did not arrive whole fails the
  // request, and a failed request leaves nothing at the body file's path.
  if (response && !response->complete) {
    error = "The answer ended early";
    response.reset();
  }
  // A stop requested while the device answered ends the transfer as a cut.
  if (response && plat::StopRequested(request.stop)) {
    error = "Stopped";
    response.reset();
  }
  if (request.bodyFile) {
    if (response) {
      // A file that cannot be written raises, as the real transport does.
      // The progress of the body is the route's to tell, as it scripts it.
      files_.WriteFile(*request.bodyFile, response->body);
      response->body.clear();
    } else if (files_.FileExists(*request.bodyFile)) {
      files_.DeleteFile(*request.bodyFile);
    }
  }
  return response;
}

plat::HttpResponse FakeHttpTransport::Answer(int status, std::string body,
                                             plat::HeaderList headers) {
  plat::HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.headers = std::move(headers);
  return r;
}

void FakeHttpTransport::Route(const std::string& methodAndPath, plat::HttpResponse response) {
  routes[methodAndPath] = [response](const plat::HttpRequest&, std::string&) {
    return std::optional(response);
  };
}

void FakeHttpTransport::Fail(const std::string& methodAndPath) {
  routes[methodAndPath] = [](const plat::HttpRequest&, std::string& error) {
    error = "connection reset";
    return std::optional<plat::HttpResponse>();
  };
}

std::vector<std::string> FakeHttpTransport::Paths() const {
  std::vector<std::string> out;
  for (const plat::HttpRequest& r : requests) {
    size_t scheme = r.url.find("://");
    size_t pathStart = r.url.find('/', scheme + 3);
    out.push_back(r.method + " " +
                  (pathStart == std::string::npos ? "/" : r.url.substr(pathStart)));
  }
  return out;
}

std::string FakeHttpTransport::CookieOf(size_t index) const {
  for (const auto& [name, value] : requests.at(index).headers)
    if (name == "Cookie")
      return value;
  return {};
}

} // namespace fake

namespace fake {

namespace {

class FakeArchive : public plat::IArchive {
public:
  FakeArchive(FakeArchiveContent content, FakeFileSystem& files,
              std::function<void(const std::string&)> onItem)
      : content_(std::move(content)), files_(files), onItem_(std::move(onItem)) {}
  std::vector<plat::ArchiveItem> Items() override {
    std::vector<plat::ArchiveItem> items = content_.items;
    for (size_t i = 0; i < items.size(); ++i) {
      if (!content_.sizesStated)
        items[i].size.reset();
      else if (!items[i].size && !items[i].isFolder)
        items[i].size = Data(i).size();
    }
    return items;
  }
  bool HasErrors() override { return content_.damaged; }
  void Extract(const plat::ExtractTargets& targets, const plat::ItemProgress& onProgress,
               const plat::StopFlag* stop) override {
    const std::vector<plat::ArchiveItem> items = Items();
    uint64_t done = 0;
    for (const auto& [index, path] : targets) {
      const plat::ArchiveItem& item = items.at(index);
      if (onItem_)
        onItem_(path);
      if (plat::StopRequested(stop))
        throw plat::Stopped();
      if (static_cast<int>(index) == content_.failOnExtractIndex)
        throw plat::ArchiveError("Data error in '" + item.path + "'");
      if (item.isFolder) {
        files_.CreateDirectories(path);
      } else if (item.size && Data(index).size() > *item.size) {
        throw plat::ArchiveError("'" + item.path + "' holds more than its stated size");
      } else {
        files_.WriteFile(path, Data(index));
      }
      if (onProgress)
        onProgress(++done, targets.size());
    }
  }

private:
  std::string Data(size_t index) const {
    return index < content_.data.size() ? content_.data[index] : std::string();
  }
  FakeArchiveContent content_;
  FakeFileSystem& files_;
  std::function<void(const std::string&)> onItem_;
};

} // namespace

void FakeArchiveLibrary::Add(const std::string& path, FakeArchiveContent content) {
  // The file's bytes name the archive, so copies of it open as well.
  files_.AddFile(path, "archive " + files_.Normalize(path));
  archives["content:" + files_.Contents(path)] = std::move(content);
}

std::unique_ptr<plat::IArchive> FakeArchiveLibrary::Open(const std::string& formatName,
                                                         const std::string& archivePath) {
  opened.push_back(formatName + " " + archivePath);
  if (!files_.FileExists(archivePath))
    throw plat::PlatformError("Cannot open the file '" + archivePath + "'");
  auto it = archives.find(files_.Normalize(archivePath));
  if (it == archives.end())
    it = archives.find("content:" + files_.Contents(archivePath));
  if (it == archives.end() || it->second.format != formatName)
    throw plat::ArchiveError("Cannot open the file '" + archivePath + "' as archive");
  return std::make_unique<FakeArchive>(it->second, files_, onExtractItem);
}

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

namespace {
// Position and length of the first PackageFolder element's baseURI value.
std::optional<std::pair<size_t, size_t>> FindBaseUri(const std::string& xml) {
  size_t element = xml.find("<PackageFolder");
  if (element == std::string::npos)
    return std::nullopt;
  size_t end = xml.find('>', element);
  size_t attr = xml.find("baseURI=\"", element);
  if (attr == std::string::npos || attr > end)
    return std::nullopt;
  size_t start = attr + 9;
  size_t close = xml.find('"', start);
  if (close == std::string::npos)
    return std::nullopt;
  return std::make_pair(start, close - start);
}
} // namespace

std::string FakeXmlFile::ReadFirst(const std::string& path, const std::string&) {
  std::string content = files_.ReadFile(path);
  if (text::Trim(content).empty() || text::Trim(content)[0] != '<')
    throw plat::PlatformError("The file is not well-formed XML.");
  auto at = FindBaseUri(content);
  if (!at)
    throw plat::PlatformError("No node matches the expression.");
  return content.substr(at->first, at->second);
}

void FakeXmlFile::WriteFirst(const std::string& path, const std::string& xpath,
                             const std::string& value) {
  ReadFirst(path, xpath);
  std::string content = files_.ReadFile(path);
  auto at = FindBaseUri(content);
  // As the real one: the document goes to a file beside the settings file,
  // which then replaces it whole.
  const std::string temporary = path + ".tmp";
  files_.WriteFile(temporary, content.replace(at->first, at->second, value));
  try {
    files_.MoveFile(temporary, path);
  } catch (const plat::PlatformError&) {
    files_.DeleteFile(temporary);
    throw;
  }
}

} // namespace fake

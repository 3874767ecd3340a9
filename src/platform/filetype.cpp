#include "platform/filetype.h"

#include <algorithm>

namespace {
std::vector<FileTypeRegistration>& Registry() {
  static std::vector<FileTypeRegistration> registry;
  return registry;
}
int registrationCalls = 0;
}  // namespace

void RuntimeRegisterFileType(const std::string& name, const std::string& macCreator,
                             const std::string& macType, const std::string& extensions,
                             const std::string& uti) {
  ++registrationCalls;
  Registry().push_back({name, macCreator, macType, extensions, uti});
}

void RuntimeDeregisterFileType(const std::string& name) {
  auto& r = Registry();
  auto it = std::find_if(r.begin(), r.end(), [&](const auto& e) { return e.name == name; });
  if (it != r.end()) r.erase(it);
}

const std::vector<FileTypeRegistration>& RegisteredFileTypes() { return Registry(); }
int FileTypeRegistrationCalls() { return registrationCalls; }

FileType::~FileType() { Deregister(); }

void FileType::Register() {
  if (registered_) return;
  RuntimeRegisterFileType(name_, macCreator_, macType_, extensions_, uti_);
  registered_ = true;
}

void FileType::Deregister() {
  if (!registered_) return;
  RuntimeDeregisterFileType(name_);
  registered_ = false;
}

std::string FileType::Operator_Convert() {
  Register();
  return name_;
}

void FileType::SetName(std::string v) {
  Deregister();
  name_ = std::move(v);
}
void FileType::SetMacCreator(std::string v) {
  Deregister();
  macCreator_ = std::move(v);
}
void FileType::SetMacType(std::string v) {
  Deregister();
  macType_ = std::move(v);
}
void FileType::SetExtensions(std::string v) {
  Deregister();
  extensions_ = std::move(v);
}
void FileType::SetMimeType(std::string v) {
  Deregister();
  mimeType_ = std::move(v);
}
void FileType::SetImported(bool v) {
  Deregister();
  imported_ = v;
}
void FileType::SetConformsTo(std::string v) {
  Deregister();
  conformsTo_ = std::move(v);
}

// File types and the runtime's file-type registry. Setting any property of a
// registered type withdraws its registration first; converting the type to
// text registers it (once); destroying it withdraws it.
#pragma once

#include <string>
#include <vector>

#include "platform/object.h"

class FileType : public Object {
 public:
  ~FileType() override;  // withdraws the registration

  void SetName(std::string v);
  void SetMacCreator(std::string v);
  void SetMacType(std::string v);
  void SetExtensions(std::string v);
  void SetMimeType(std::string v);
  void SetImported(bool v);
  void SetConformsTo(std::string v);

  const std::string& Name() const { return name_; }
  const std::string& MacCreator() const { return macCreator_; }
  const std::string& MacType() const { return macType_; }
  const std::string& Extensions() const { return extensions_; }
  const std::string& UTI() const { return uti_; }
  const std::string& MimeType() const { return mimeType_; }
  bool Imported() const { return imported_; }
  const std::string& ConformsTo() const { return conformsTo_; }
  bool IsRegistered() const { return registered_; }

  // Registers the type and gives its name.
  std::string Operator_Convert();
  void Register();
  void Deregister();

 private:
  std::string name_, macCreator_, macType_, extensions_, uti_, mimeType_, conformsTo_;
  bool imported_ = false;
  bool registered_ = false;
};

void RuntimeRegisterFileType(const std::string& name, const std::string& macCreator,
                             const std::string& macType, const std::string& extensions,
                             const std::string& uti);
void RuntimeDeregisterFileType(const std::string& name);

// What the registry holds now, and every call it has received, for checks.
struct FileTypeRegistration {
  std::string name, macCreator, macType, extensions, uti;
};
const std::vector<FileTypeRegistration>& RegisteredFileTypes();
int FileTypeRegistrationCalls();

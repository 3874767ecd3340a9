#include "app/dropfiles.h"

namespace Dropfiles {

std::shared_ptr<FileType> pAny;

void Initialize() {
  pAny = std::make_shared<FileType>();
  Use(pAny, "pAny").SetName("special/any");
  Use(pAny, "pAny").SetExtensions("");
  Use(pAny, "pAny").SetMacType("????");
  Use(pAny, "pAny").SetMacCreator("????");
  Use(pAny, "pAny").SetMimeType("");
  Use(pAny, "pAny").SetImported(true);
  Use(pAny, "pAny").SetConformsTo("");
  // Converting the type to text registers it.
  (void)Use(pAny, "pAny").Operator_Convert();
}

}  // namespace Dropfiles

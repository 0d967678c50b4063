#include "automation/error_info.h"

#include <oleauto.h>

#include "com_types/identity.h"
#include "com_types/owners.h"

namespace automation {

using com_types::ComPtr;
using com_types::kInterfaceId;
using com_types::kProgId;

HRESULT SetErrorInformation(HRESULT code, const wchar_t* description) {
  ComPtr<ICreateErrorInfo> created;
  if (FAILED(CreateErrorInfo(created.Put()))) return code;
  created->SetGUID(kInterfaceId);
  created->SetSource(const_cast<LPOLESTR>(kProgId));
  created->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put())))) {
    ::SetErrorInfo(0, info.Get());
  }
  return code;
}

}  // namespace automation

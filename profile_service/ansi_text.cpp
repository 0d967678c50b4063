#include "profile_service/ansi_text.h"

namespace profile_service {

AnsiText AnsiText::FromBstr(BSTR text) {
  if (!text) return AnsiText();
  std::string converted;
  AppendAnsi(converted, text);
  return AnsiText(std::move(converted));
}

// A character the code page lacks becomes its default character ("?"), never a
// look-alike: best fit would turn a fullwidth "=" into "=" past the write rules, or a
// fullwidth backslash into a folder separator leading out of the named folder.
void AppendAnsi(std::string& target, BSTR text) {
  const int length = static_cast<int>(SysStringLen(text));
  if (length == 0) return;
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int size = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, nullptr);
  if (size == 0) {  // code pages such as UTF-8 take no flags, and have no best fit either
    flags = 0;
    size = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, nullptr);
  }
  const size_t start = target.size();
  target.resize(start + static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, flags, text, length, target.data() + start, size, nullptr, nullptr);
}

com_types::UniqueBstr WideFromAnsi(std::string_view text) {
  if (text.empty()) return com_types::UniqueBstr::Copy(L"", 0);
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  BSTR converted = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (!converted) throw std::bad_alloc();
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, converted, size);
  return com_types::UniqueBstr(converted);
}

void WriteBack(BSTR* slot, const AnsiText& converted) {
  com_types::UniqueBstr replacement;
  if (!converted.IsAbsent()) replacement = WideFromAnsi(converted.View());
  SysFreeString(*slot);
  *slot = replacement.Release();
}

}  // namespace profile_service

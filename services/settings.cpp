#include "services/settings.h"

#include "services/text.h"

std::string CSettings::GetText(const char16_t* field, size_t capacity) {
  size_t n = 0;
  while (n < capacity && field[n] != 0) ++n;
  return qm::Utf16ToUtf8(field, n);
}

void CSettings::SetText(char16_t* field, size_t capacity, std::string_view utf8) {
  std::u16string wide = qm::Utf8ToUtf16(utf8);
  if (wide.size() > capacity - 1) wide.resize(capacity - 1);
  for (size_t i = 0; i < capacity; ++i) field[i] = i < wide.size() ? wide[i] : 0;
}

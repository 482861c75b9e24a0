#include "engine/persistence/widestring_list.h"

#include "platform/core/brackets.h"
#include "platform/core/errors.h"
#include "platform/core/text.h"

namespace dtp {

namespace {

struct TListUpdate {
  TvqWidestringList& list;
  explicit TListUpdate(TvqWidestringList& l) : list(l) { list.BeginUpdate(); }
  ~TListUpdate() { list.EndUpdate(); }
};

} // namespace

void TvqWidestringList::BeginUpdate() {
  if (m_UpdateCount++ == 0 && OnChanging) OnChanging(this);
}

void TvqWidestringList::EndUpdate() {
  if (--m_UpdateCount == 0 && OnChange) OnChange(this);
}

int TvqWidestringList::Add(const std::u16string& text) {
  TListUpdate update(*this);
  m_Items.push_back(text);
  return Count() - 1;
}

void TvqWidestringList::AddStrings(const TvqWidestringList& list) {
  TListUpdate update(*this);
  const std::vector<std::u16string> copy = list.m_Items; // the list may be this one
  m_Items.insert(m_Items.end(), copy.begin(), copy.end());
}

void TvqWidestringList::Assign(const TvqWidestringList& source) {
  if (&source == this) return;
  TListUpdate update(*this);
  m_Items = source.m_Items;
}

void TvqWidestringList::Assign(const std::vector<std::string>& source) {
  TListUpdate update(*this);
  m_Items.clear();
  for (const std::string& s : source) m_Items.push_back(Utf8ToUtf16(s));
}

void TvqWidestringList::Clear() {
  TListUpdate update(*this);
  m_Items.clear();
}

const std::u16string& TvqWidestringList::Strings(int index) const {
  if (index < 0 || index >= Count()) throw EDtpError("List index out of bounds");
  return m_Items[static_cast<size_t>(index)];
}

void TvqWidestringList::SetStrings(int index, const std::u16string& text) {
  if (index < 0 || index >= Count()) throw EDtpError("List index out of bounds");
  TListUpdate update(*this);
  m_Items[static_cast<size_t>(index)] = text;
}

std::u16string TvqWidestringList::Text() const {
  std::u16string out;
  for (size_t i = 0; i < m_Items.size(); ++i) {
    if (i > 0) out += u"\r\n";
    out += m_Items[i];
  }
  return out;
}

void TvqWidestringList::SetText(const std::u16string& text) {
  TListUpdate update(*this);
  m_Items.clear();
  std::u16string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      m_Items.push_back(line);
      line.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) m_Items.push_back(line);
}

} // namespace dtp

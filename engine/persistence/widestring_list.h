#pragma once
// An ordered list of UTF-16 lines, used by the text shapes to split and join their text.

#include <functional>
#include <string>
#include <vector>

namespace dtp {

class TvqWidestringList {
public:
  using TNotify = std::function<void(TvqWidestringList* sender)>;

  int Add(const std::u16string& text);
  void AddStrings(const TvqWidestringList& list);
  void Assign(const TvqWidestringList& source);
  // Lines of the platform's 8-bit text (UTF-8 here), converted to wide text.
  void Assign(const std::vector<std::string>& source);
  void Clear();
  int Count() const { return static_cast<int>(m_Items.size()); }
  // Raises "List index out of bounds" outside 0 … Count − 1.
  const std::u16string& Strings(int index) const;
  void SetStrings(int index, const std::u16string& text);

  // The lines joined by CR LF (none after the last).
  std::u16string Text() const;
  // Splits at every CR, LF or CR LF; a final line break adds no empty line.
  void SetText(const std::u16string& text);

  void BeginUpdate();
  void EndUpdate();

  TNotify OnChanging; // the update counter goes from 0 to 1
  TNotify OnChange;   // the update counter returns to 0

private:
  std::vector<std::u16string> m_Items;
  int m_UpdateCount = 0;
};

} // namespace dtp

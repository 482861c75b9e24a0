#pragma once
// A host for tests: records what the document asks for and fires timers on demand.

#include <map>
#include <string>
#include <vector>

#include "platform/host/host.h"

namespace dtp {

class TFakeHost : public IDocumentHost {
public:
  struct TTimer {
    int Interval = 0;
    bool Enabled = true;
    std::function<void()> OnTick;
  };

  void Repaint(const TRect& rect) override { Repaints.push_back(rect); }
  void RepaintAll() override { ++FullRepaints; }
  void ScrollPixels(int dx, int dy) override { Scrolls.push_back({dx, dy}); }
  TPoint ClientSize() const override { return Client; }
  void SetScrollBars(const TScrollBarInfo& h, const TScrollBarInfo& v) override {
    HorizontalBar = h;
    VerticalBar = v;
  }
  void SetCursor(int cursor) override { Cursors.push_back(cursor); }
  void ShowHintWindow(TPoint, const std::string& text) override { HintText = text; }
  void HideHintWindow() override { HintText.clear(); }
  int CreateTimer(int intervalMs, std::function<void()> onTick) override {
    Timers[++m_NextTimer] = {intervalMs, true, std::move(onTick)};
    return m_NextTimer;
  }
  void SetTimerInterval(int id, int ms) override { Timers[id].Interval = ms; }
  void SetTimerEnabled(int id, bool enabled) override { Timers[id].Enabled = enabled; }
  void DestroyTimer(int id) override { Timers.erase(id); }
  uint32_t TickCount() const override { return Now; }
  std::string ClipboardText() const override { return Clipboard; }
  void SetClipboardText(const std::string& text) override { Clipboard = text; }
  void MessageBox(const std::string& text) override { Messages.push_back(text); }
  void ProcessPendingMessages() override { ++PendingMessageRuns; }
  bool IsAltDown() const override { return AltDown; }
  void PopupMenu(TPoint at) override { Popups.push_back(at); }
  void StartDrag() override { ++Drags; }

  // Fires every enabled timer with this interval once.
  void FireTimers(int intervalMs) {
    std::vector<std::function<void()>> due;
    for (auto& [id, t] : Timers)
      if (t.Enabled && t.Interval == intervalMs) due.push_back(t.OnTick);
    for (auto& f : due) f();
  }

  TPoint Client{800, 600};
  uint32_t Now = 0;
  bool AltDown = false;
  std::string Clipboard;
  std::string HintText;
  std::vector<TRect> Repaints;
  int FullRepaints = 0;
  std::vector<TPoint> Scrolls;
  TScrollBarInfo HorizontalBar, VerticalBar;
  std::vector<int> Cursors;
  std::map<int, TTimer> Timers;
  std::vector<std::string> Messages;
  int PendingMessageRuns = 0;
  std::vector<TPoint> Popups;
  int Drags = 0;

private:
  int m_NextTimer = 0;
};

} // namespace dtp

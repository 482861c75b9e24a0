#pragma once
// What a document needs of whatever shows it: a window, timers, the clipboard, message
// boxes, the keyboard. The document works without a host (every request is then a no-op),
// which is how print sheets and the headless renderer run.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/core/geometry.h"

namespace dtp {

struct TScrollBarInfo {
  int Range = 0; // 0 … Range
  int Page = 0;
  int Position = 0;
  bool Enabled = false;
};

class IDocumentHost {
public:
  virtual ~IDocumentHost() = default;

  // Painting and scrolling of the view (client pixels).
  virtual void Repaint(const TRect& rect) = 0;
  virtual void RepaintAll() = 0;
  virtual void ScrollPixels(int dx, int dy) = 0;
  virtual TPoint ClientSize() const = 0;
  virtual void SetScrollBars(const TScrollBarInfo& horizontal, const TScrollBarInfo& vertical) = 0;

  // Cursor numbers are the document's (negative numbers are the platform's stock cursors).
  virtual void SetCursor(int cursor) = 0;
  virtual void ShowHintWindow(TPoint clientPoint, const std::string& text) = 0;
  virtual void HideHintWindow() = 0;

  // Timers run on the user-interface thread; the id is the host's.
  virtual int CreateTimer(int intervalMs, std::function<void()> onTick) = 0;
  virtual void SetTimerInterval(int id, int intervalMs) = 0;
  virtual void SetTimerEnabled(int id, bool enabled) = 0;
  virtual void DestroyTimer(int id) = 0;
  // Milliseconds since some fixed start.
  virtual uint32_t TickCount() const = 0;

  virtual std::string ClipboardText() const = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  virtual void MessageBox(const std::string& text) = 0;
  virtual void ProcessPendingMessages() = 0;
  virtual bool IsAltDown() const = 0;

  virtual void PopupMenu(TPoint clientPoint) = 0;
  virtual void StartDrag() = 0;
};

// Milliseconds from a monotonic clock, for a document without a host.
uint32_t MonotonicTickCount();

} // namespace dtp

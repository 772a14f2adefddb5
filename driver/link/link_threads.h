#pragma once
// Keeps the library's code mapped for as long as a link thread runs it. The library can be
// unloaded after Cleanup while a detached link thread is still inside a tick; at unload a
// static object clears linkRunning, makes the thread's sleep and the central's waits end
// at once, and waits, bounded, until every link thread has left the library's code.

#include "driver/link/ble_central.h"
#include "driver/link/link_clock.h"

namespace quenlark {

// Registers the calling link thread for its whole run; the unload waits until the thread
// has left the scope and then until the thread itself has ended, so that not even the
// epilogue of the detached thread runs in unmapped code.
class LinkThreadScope {
  public:
    LinkThreadScope();
    ~LinkThreadScope();
    LinkThreadScope(const LinkThreadScope&) = delete;
    LinkThreadScope& operator=(const LinkThreadScope&) = delete;

    // False when the library is already being unloaded: the thread is to end at once.
    bool entered() const { return entered_; }

  private:
    long threadId_ = 0;
    bool entered_ = false;
};

// While it lives, an unload abandons this central's waits. Destroy it before the central.
class AbandonOnUnload {
  public:
    explicit AbandonOnUnload(ble::BleCentral& central);
    ~AbandonOnUnload();
    AbandonOnUnload(const AbandonOnUnload&) = delete;
    AbandonOnUnload& operator=(const AbandonOnUnload&) = delete;

  private:
    ble::BleCentral& central_;
};

// The steady clock, with a sleep that an unload ends at once.
class SteadyLinkClock final : public LinkClock {
  public:
    TimePoint now() override;
    bool sleepUntil(TimePoint wake) override;
    bool abandoned() override;
};

}  // namespace quenlark

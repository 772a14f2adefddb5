#pragma once
// Children started while this is in scope write their standard output and error to
// nowhere: the private bus and the pistol would otherwise write their notices into the
// live view. This process's own streams are back as they were when it goes. Use only
// while no other thread writes to them.

namespace quenlark::demo {

class QuietOutput {
  public:
    QuietOutput();
    ~QuietOutput();
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

  private:
    int savedOutput_ = -1;
    int savedError_ = -1;
};

}  // namespace quenlark::demo

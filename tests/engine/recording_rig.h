// An engine over the recording driver with both ports open, for tests that
// play the pedal: what the pedal sends goes through the input port's
// callback into the queue, as a driver's hand-back would.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/sysex.h"
#include "engine/update_engine.h"
#include "midi/drivers/recording_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace kv::testing_rig {

class NoImages final : public ImageSource {
 public:
  ImageBytes Find(std::int32_t) const override { return {}; }
};

class NoObserver final : public UpdateObserver {
 public:
  void SetStatusText(const char*) override {}
  void SetStepText(const char*) override {}
  void SetProgressRange(std::int32_t, std::int32_t) override {}
  void SetProgressPos(std::int32_t) override {}
  void ShowError(int) override {}
  void RestoreControls() override {}
  void EnableExecute(bool) override {}
};

template <typename Driver = midi::RecordingDriver>
class Rig {
 public:
  Rig() : out(driver), in(driver), engine(out, in, observer, ScaledTimes(100), images) {
    EXPECT_EQ(out.Open(0), 1);
    in.SetDeviceIndex(0);
    EXPECT_EQ(in.Start(), 1);
  }
  ~Rig() { ModelId.store(kInitialModelId); }

  void Queue(const std::vector<std::uint8_t>& message) { ASSERT_TRUE(driver.HandBack(message)); }
  bool QueueEmpty() const { return !in.GetFirstMessage(); }

  Driver driver;
  midi::CMidiOutPort out;
  midi::CMidiInPort in;
  NoObserver observer;
  NoImages images;
  CUpdateEngine engine;
};

}  // namespace kv::testing_rig

// The multimedia MIDI driver: its answers where no device is (the only
// paths a machine without MIDI hardware can run), and the translation of
// the platform's completion reports into the port's own headers.
#include "midi/drivers/winmm_driver_win32.h"

#include <gtest/gtest.h>

#include <cstring>

#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace {

using kv::midi::CMidiInPort;
using kv::midi::CMidiOutPort;
using kv::midi::MidiCaps;
using kv::midi::MidiHandle;
using kv::midi::MidiHeader;
using kv::midi::WinmmDriver;
using kv::midi::WinmmInputBinding;

TEST(WinmmDriver, DevicesPastTheCountCannotBeOpenedOrDescribed) {
  WinmmDriver driver;
  const std::uint32_t outs = driver.OutGetNumDevs();
  const std::uint32_t ins = driver.InGetNumDevs();

  MidiHandle handle = 77;
  EXPECT_NE(driver.OutOpen(&handle, outs), kv::midi::kMmNoError);
  EXPECT_EQ(handle, 0u);
  handle = 77;
  EXPECT_NE(driver.InOpen(&handle, ins, &CMidiInPort::InputCallback, 0, kv::midi::kCallbackFunction),
            kv::midi::kMmNoError);
  EXPECT_EQ(handle, 0u);

  MidiCaps caps{};
  std::strcpy(caps.productName, "untouched");
  EXPECT_NE(driver.OutGetDevCaps(outs, &caps, kv::midi::kMidiOutCapsSize), kv::midi::kMmNoError);
  EXPECT_STREQ(caps.productName, "untouched");
  EXPECT_NE(driver.InGetDevCaps(ins, &caps, kv::midi::kMidiInCapsSize), kv::midi::kMmNoError);
  EXPECT_STREQ(caps.productName, "untouched");
}

TEST(WinmmDriver, CallsOnHandlesItNeverOpenedFailAndTouchNothing) {
  WinmmDriver driver;
  const MidiHandle stranger = 0x1234;
  MidiHeader header;
  std::uint8_t bytes[4] = {0xF0, 1, 2, 0xF7};
  header.data = bytes;
  header.bufferLength = sizeof bytes;
  const std::uint32_t size = kv::midi::kMidiHeaderSize;
  const kv::midi::MmResult results[] = {
      driver.OutPrepareHeader(stranger, &header, size), driver.OutLongMsg(stranger, &header, size),
      driver.OutUnprepareHeader(stranger, &header, size), driver.OutClose(stranger),
      driver.InPrepareHeader(stranger, &header, size),  driver.InAddBuffer(stranger, &header, size),
      driver.InStart(stranger),                        driver.InStop(stranger),
      driver.InReset(stranger),                        driver.InUnprepareHeader(stranger, &header, size),
      driver.InClose(stranger),
  };
  for (std::size_t i = 0; i < std::size(results); ++i) {
    EXPECT_EQ(results[i], kv::midi::kMmInvalidHandle) << "call " << i;
  }
  EXPECT_EQ(header.driverData, nullptr);
  EXPECT_EQ(header.flags.load(), 0u);
}

TEST(WinmmDriver, InputIsOnlyTakenThroughAFunctionCallback) {
  WinmmDriver driver;
  MidiHandle handle = 0;
  EXPECT_EQ(driver.InOpen(&handle, 0, &CMidiInPort::InputCallback, 0, 0), kv::midi::kMmInvalidParam);
  EXPECT_EQ(driver.InOpen(&handle, 0, nullptr, 0, kv::midi::kCallbackFunction), kv::midi::kMmInvalidParam);
}

TEST(WinmmDriver, PortsOverItFailCleanlyWithoutADevice) {
  WinmmDriver driver;
  CMidiOutPort out(driver);
  const std::uint32_t pastLast = driver.OutGetNumDevs();
  EXPECT_EQ(out.Open(pastLast), 0);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(out.DeviceIndex(), pastLast);
  const std::uint8_t message[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  EXPECT_EQ(out.SendLong(message, sizeof message), 0);
  char name[40];
  std::memset(name, 'x', sizeof name);
  out.GetDeviceName(pastLast, name);
  EXPECT_STREQ(name, "");

  // No selection in the list: the all-ones number, which names no input device.
  CMidiInPort in(driver);
  in.SetDeviceIndex(0xFFFFFFFFu);
  EXPECT_EQ(in.Start(), 0);
  EXPECT_FALSE(in.IsStarted());
  EXPECT_EQ(in.Close(), 0);
}

TEST(WinmmDriver, OutputDoneReportSetsTheDoneFlagOfTheMirroredHeader) {
  MidiHeader header;
  MIDIHDR platform{};
  platform.dwUser = reinterpret_cast<DWORD_PTR>(&header);
  for (UINT other : {UINT{MOM_OPEN}, UINT{MOM_CLOSE}}) {
    WinmmDriver::OnOutputEvent(nullptr, other, 0, reinterpret_cast<DWORD_PTR>(&platform), 0);
  }
  EXPECT_EQ(header.flags.load() & kv::midi::kMidiHeaderDone, 0u);
  WinmmDriver::OnOutputEvent(nullptr, MOM_DONE, 0, reinterpret_cast<DWORD_PTR>(&platform), 0);
  EXPECT_NE(header.flags.load() & kv::midi::kMidiHeaderDone, 0u);
}

TEST(WinmmDriver, HandedBackInputBufferReachesThePortQueueWithItsBytes) {
  // The port as it would be lent to a device: its callback, itself as instance.
  WinmmDriver driver;
  CMidiInPort port(driver);
  WinmmInputBinding binding{&CMidiInPort::InputCallback, reinterpret_cast<std::uintptr_t>(&port)};

  std::uint8_t buffer[kv::midi::kInputBufferSize] = {};
  const std::uint8_t sysex[15] = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x5F, 1, 2, 3, 4, 5, 6, 7, 0xF7};
  std::memcpy(buffer, sysex, sizeof sysex);
  MidiHeader header;
  header.data = buffer;
  header.bufferLength = sizeof buffer;
  MIDIHDR platform{};
  platform.lpData = reinterpret_cast<LPSTR>(buffer);
  platform.dwBufferLength = sizeof buffer;
  platform.dwBytesRecorded = sizeof sysex;
  platform.dwFlags = MHDR_DONE | MHDR_PREPARED;
  platform.dwUser = reinterpret_cast<DWORD_PTR>(&header);

  // A short message and a report with no header change nothing.
  WinmmDriver::OnInputEvent(nullptr, MIM_DATA, reinterpret_cast<DWORD_PTR>(&binding), 0x00403C90, 5);
  WinmmDriver::OnInputEvent(nullptr, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&binding), 0, 5);
  EXPECT_FALSE(port.GetFirstMessage());

  WinmmDriver::OnInputEvent(nullptr, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&binding),
                            reinterpret_cast<DWORD_PTR>(&platform), 1234);
  EXPECT_EQ(header.bytesRecorded, sizeof sysex);
  const auto first = port.GetFirstMessage();
  ASSERT_TRUE(first);
  ASSERT_EQ(first.length, sizeof sysex);
  EXPECT_EQ(std::memcmp(first.data, sysex, sizeof sysex), 0);

  // Handed back empty (as a reset does): no entry.
  port.RemoveFirstMessage();
  platform.dwBytesRecorded = 0;
  WinmmDriver::OnInputEvent(nullptr, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(&binding),
                            reinterpret_cast<DWORD_PTR>(&platform), 1235);
  EXPECT_FALSE(port.GetFirstMessage());
}

}  // namespace

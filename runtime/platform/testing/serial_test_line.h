#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_SERIAL_TEST_LINE_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_SERIAL_TEST_LINE_H_

#include <cstdint>
#include <memory>
#include <string>

namespace runtime::platform {

// For tests: a serial line with a device to open by name at one end and the
// test's own access to the other. Natively a new pseudo-terminal (the device
// is its slave); under Wine one of the COM pairs that the test set-up listed
// in WEIGH_TEST_SERIAL_PAIRS ("COM10:COM11,COM12:COM13"), joined outside the
// Windows process.
class SerialTestLine {
 public:
  // Makes line number `index` (0 or 1). Returns nullptr, with the reason in
  // `why_not`, when no such line can be had.
  static std::unique_ptr<SerialTestLine> Create(int index, std::string* why_not);

  virtual ~SerialTestLine() = default;

  // The name to open the device end by.
  virtual const std::string& DeviceName() const = 0;

  // Sends bytes from the far end. Returns the count sent.
  virtual int32_t PeerWrite(const void* bytes, int32_t count) = 0;

  // Receives at the far end until `count` bytes arrived or `timeout_ms`
  // passed. Returns the count received.
  virtual int32_t PeerRead(void* destination, int32_t count, int32_t timeout_ms) = 0;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_SERIAL_TEST_LINE_H_

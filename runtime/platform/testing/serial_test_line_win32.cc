#include "runtime/platform/testing/serial_test_line.h"

#include <cstdlib>

#include "runtime/platform/clock.h"
#include "runtime/platform/serial.h"

namespace runtime::platform {
namespace {

class ComPairLine : public SerialTestLine {
 public:
  ComPairLine(std::string device, PortHandle peer) : device_(std::move(device)), peer_(peer) {}
  ~ComPairLine() override { CloseSerial(peer_); }

  const std::string& DeviceName() const override { return device_; }

  int32_t PeerWrite(const void* bytes, int32_t count) override {
    return WriteSerial(peer_, bytes, count);
  }

  int32_t PeerRead(void* destination, int32_t count, int32_t timeout_ms) override {
    const int64_t deadline = MonotonicMilliseconds() + timeout_ms;
    int32_t got = 0;
    while (got < count && MonotonicMilliseconds() < deadline) {
      int32_t waiting = SerialInputCount(peer_);
      if (waiting == 0) {
        SleepMilliseconds(5);
        continue;
      }
      if (waiting > count - got) waiting = count - got;
      got += ReadSerial(peer_, static_cast<char*>(destination) + got, waiting);
    }
    return got;
  }

 private:
  std::string device_;
  PortHandle peer_;
};

}  // namespace

std::unique_ptr<SerialTestLine> SerialTestLine::Create(int index, std::string* why_not) {
  const char* pairs = std::getenv("WEIGH_TEST_SERIAL_PAIRS");
  if (pairs == nullptr) {
    *why_not = "WEIGH_TEST_SERIAL_PAIRS is not set: run the test through tools/wine-com-pairs";
    return nullptr;
  }
  std::string list = pairs;
  std::size_t start = 0;
  for (int skip = 0; skip < index && start != std::string::npos; ++skip) {
    start = list.find(',', start);
    if (start != std::string::npos) ++start;
  }
  std::size_t colon = start == std::string::npos ? std::string::npos : list.find(':', start);
  if (colon == std::string::npos) {
    *why_not = "WEIGH_TEST_SERIAL_PAIRS has no pair number " + std::to_string(index);
    return nullptr;
  }
  std::size_t end = list.find(',', colon);
  std::string device = list.substr(start, colon - start);
  std::string peer_name = list.substr(colon + 1, end == std::string::npos ? end : end - colon - 1);
  const PortSettings settings{9600, 0, 8, 1.0f, 0, 1024, 1024};
  PortHandle peer = OpenSerialDevice(peer_name.c_str(), settings);
  if (peer == 0) {
    *why_not = "cannot open " + peer_name;
    return nullptr;
  }
  return std::make_unique<ComPairLine>(device, peer);
}

}  // namespace runtime::platform

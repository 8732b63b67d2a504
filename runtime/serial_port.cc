#include "runtime/serial_port.h"

#include "runtime/platform/clock.h"
#include "runtime/text.h"

namespace runtime {
namespace {

ObjectTable* port_table = nullptr;
bool timer_resolution_raised = false;
platform::PortOpenError last_open_error;

CommPort* FindPort(ObjectValue port) {
  return port_table == nullptr ? nullptr : static_cast<CommPort*>(FindLiveRecord(port_table, port));
}

}  // namespace

void StartPorts() {
  port_table = CreateObjectTable(sizeof(CommPort), 16, ClosePort);
}

void CloseAllPorts() { ClosePort(ALL_PORTS); }

ObjectValue OpenPort(ObjectValue number, const Text& name, int32_t baud, int32_t parity,
                     int32_t dataBits, float stopBits, int32_t handshake, int32_t inputBufferSize,
                     int32_t outputBufferSize) {
  last_open_error = platform::PortOpenError{platform::PortFailure::kOther, 0};
  if (port_table == nullptr) return 0;
  const platform::PortSettings settings{baud,
                                        static_cast<uint8_t>(parity & 0xFF),
                                        static_cast<uint8_t>(dataBits & 0xFF),
                                        stopBits,
                                        handshake,
                                        inputBufferSize,
                                        outputBufferSize};
  platform::PortHandle handle = platform::OpenSerialDevice(name.c_str(), settings, &last_open_error);
  if (handle == 0) return 0;
  // Only now is the number taken over: reusing it closes the port it held.
  auto* port = static_cast<CommPort*>(ObtainRecord(port_table, number));
  if (port == nullptr) {
    platform::CloseSerial(handle);
    last_open_error = platform::PortOpenError{platform::PortFailure::kOther, 0};
    return 0;
  }
  port->handle = handle;
  return number == AUTO_NUMBER ? reinterpret_cast<ObjectValue>(port) : handle;
}

platform::PortOpenError LastPortOpenError() { return last_open_error; }

void DiscardPortInput(ObjectValue port) {
  CommPort* open = FindPort(port);
  if (open != nullptr) platform::DiscardSerialInput(open->handle);
}

int32_t WritePortText(ObjectValue port, const Text& text) {
  CommPort* open = FindPort(port);
  if (open == nullptr) return 0;
  return platform::WriteSerial(open->handle, text.data(), text.size());
}

int32_t PortInputCount(ObjectValue port) {
  CommPort* open = FindPort(port);
  return open == nullptr ? 0 : platform::SerialInputCount(open->handle);
}

int32_t ReadPortData(ObjectValue port, void* destination, int32_t length) {
  CommPort* open = FindPort(port);
  return open == nullptr ? 0 : platform::ReadSerial(open->handle, destination, length);
}

void ClosePort(ObjectValue port) {
  if (port_table == nullptr) return;
  if (port == ALL_PORTS) {
    CloseAllObjects(port_table);
    return;
  }
  CommPort* open = FindPort(port);
  if (open == nullptr) return;
  platform::CloseSerial(open->handle);
  ReleaseRecord(port_table, port);
}

void Pause(int32_t milliseconds) {
  if (!timer_resolution_raised) {
    platform::RaiseTimerResolution();
    timer_resolution_raised = true;
  }
  platform::SleepMilliseconds(milliseconds);
}

}  // namespace runtime

#ifndef WEIGH_RUNTIME_SERIAL_PORT_H_
#define WEIGH_RUNTIME_SERIAL_PORT_H_

#include <cstdint>

#include "runtime/object_table.h"
#include "runtime/platform/serial.h"

namespace runtime {

class Text;

// Why a port would not open, as the flow needs it.
using platform::NotAPort;
using platform::PortFailure;
using platform::PortOpenError;

// One open serial port: its platform handle, 0 when no port is open.
struct CommPort {
  platform::PortHandle handle;
};

// Given to ClosePort: close every open port.
constexpr ObjectValue ALL_PORTS = -1;

// Makes the port table. Runs once at start, before any other port operation.
void StartPorts();

// Closes every port still open. Runs once at stop.
void CloseAllPorts();

// Opens and configures the serial port `name` under `number` (or AUTO_NUMBER
// for a new identity). Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space.
// Stop bits: exactly 1.0 one, exactly 2.0 two, anything else one and a half.
// Handshake: 0 none with RTS off, 1 RTS on, 2 RTS/CTS, 3 XON/XOFF. Buffer
// sizes are passed to the device only when both are positive. Returns the
// platform handle for a number, the identity for AUTO_NUMBER, 0 on failure.
// The number is taken over only once the new device is open and configured:
// a failed open leaves a port already open under the number as it was.
ObjectValue OpenPort(ObjectValue number, const Text& name, int32_t baud, int32_t parity,
                     int32_t dataBits, float stopBits, int32_t handshake, int32_t inputBufferSize,
                     int32_t outputBufferSize);

// Says why the last OpenPort that returned 0 failed; its reason is
// PortFailure::kNone after an OpenPort that succeeded.
PortOpenError LastPortOpenError();

// Throws away the bytes that the port under `port` received and nobody read
// yet. Does nothing when no port is open under `port`.
void DiscardPortInput(ObjectValue port);

// Sends the bytes of `text` unchanged. Returns the count sent; 0 when no port
// is open under `port` or the text is empty.
int32_t WritePortText(ObjectValue port, const Text& text);

// Returns how many received bytes wait in the input queue; 0 when no port is
// open under `port`.
int32_t PortInputCount(ObjectValue port);

// Reads `length` bytes into `destination`, which has room for them. Returns
// the count read; 0 when the read fails or no port is open under `port`.
int32_t ReadPortData(ObjectValue port, void* destination, int32_t length);

// Closes the port under `port`, or every port for ALL_PORTS. Does nothing
// for a number that holds no open port.
void ClosePort(ObjectValue port);

// Sleeps for `milliseconds`. The first call asks for a 1 ms timer resolution
// for the rest of the process.
void Pause(int32_t milliseconds);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_SERIAL_PORT_H_

// serial_port.h - the one serial port of the process: opened with fixed line settings, then
// exact byte counts written and read, each read bounded by the read time-out given at open.
// Every failure writes its text to the standard error stream (C stdio), never to the driver log.
#pragma once

namespace kestcam {

// Opens and configures the device `name` (8 data bits, no parity, binary, no hardware flow
// control, DTR and RTS off; stop bits and software flow control kept as the port has them), with
// a total read time-out of readTimeoutMs. 1 on success. 0 without a message when a port is
// already open or being opened anywhere in the process; 0 with "ERROR: Com-Port initialization
// failed\n" when a step of the open fails (the device is then closed again).
int SerialPortOpen(const char *name, int baudRate, int readTimeoutMs);
// 1 when the open port was closed; 0 when none was open or the close failed (it stays open).
int SerialPortClose();
// Writes exactly count bytes; only between a successful open and the next close.
int SerialPortWrite(const void *buffer, int count);
// Reads exactly count bytes, waiting at most the read time-out in total.
int SerialPortRead(void *buffer, unsigned count);

} // namespace kestcam

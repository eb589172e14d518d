// register_access.h - register reads and writes on the camera over the open serial port: one
// command frame, the one-byte acknowledgement and, for reads, the checked response frame. One
// attempt each, no retries; failures write their text to the standard error stream.
#pragma once

#include <cstdint>

namespace kestcam {

// Builds and writes a command frame, then waits for the acknowledgement. 1 when it was ACK.
int SendCommandFrame(int opcode, int64_t address, const void *data, uint8_t dataLen, bool checksum);
// Reads one response frame of dataLen data bytes and checks it; its data go to buffer.
int ReceiveResponseFrame(void *buffer, uint8_t dataLen, bool checksum);

// All four with the checksum on. The Offset forms address the register 27 bytes further on.
int WriteRegister(int64_t address, const void *data, uint8_t length);
int ReadRegister(int64_t address, void *buffer, uint8_t length);
int WriteRegisterOffset(int64_t address, const void *data, uint8_t length);
int ReadRegisterOffset(int64_t address, void *buffer, uint8_t length);

} // namespace kestcam

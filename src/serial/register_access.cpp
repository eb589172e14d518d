// register_access.cpp - the four register operations on top of the frame builder and checker.
#include "serial/register_access.h"

#include <cstdio>

#include "serial/camera_frame.h"
#include "serial/serial_port.h"

namespace kestcam {

namespace {

void Report(const char *text) {
    std::fputs(text, stderr);
}

// The 64-bit addition of the offset forms, wrapping instead of overflowing.
int64_t WithOffset(int64_t address) {
    return static_cast<int64_t>(static_cast<uint64_t>(address) + static_cast<uint64_t>(frame::kOffsetDistance));
}

int Read(int opcode, int64_t address, void *buffer, uint8_t length) {
    if (buffer == nullptr && length > 0) return 0;
    if (SendCommandFrame(opcode, address, nullptr, length, true) != 1) return 0;
    return ReceiveResponseFrame(buffer, length, true);
}

int Write(int opcode, int64_t address, const void *data, uint8_t length) {
    if (data == nullptr && length > 0) return 0;
    return SendCommandFrame(opcode, address, data, length, true);
}

} // namespace

int SendCommandFrame(int opcode, int64_t address, const void *data, uint8_t dataLen, bool checksum) {
    const frame::CommandFrame command =
        frame::BuildCommandFrame(opcode, address, static_cast<const uint8_t *>(data), dataLen, checksum);
    if (SerialPortWrite(command.bytes.data(), static_cast<int>(command.size)) != 1) {
        Report("ERROR: Serial Transmission failed\n");
        return 0;
    }
    uint8_t ack = 0;
    if (SerialPortRead(&ack, 1) != 1) {
        Report("ERROR: Camera's ACK receive failed\n");
        return 0;
    }
    if (ack != frame::kACK) {
        Report("ERROR: Unexpected value for ACK in Transmission\n");
        return 0;
    }
    return 1;
}

int ReceiveResponseFrame(void *buffer, uint8_t dataLen, bool checksum) {
    uint8_t response[frame::ResponseFrameSize(255, true)];
    if (SerialPortRead(response, static_cast<unsigned>(frame::ResponseFrameSize(dataLen, checksum))) != 1) {
        Report("Response frame: receive error\n");
        return 0;
    }
    const frame::ResponseStatus status =
        frame::CheckResponseFrame(response, dataLen, checksum, static_cast<uint8_t *>(buffer));
    if (status != frame::ResponseStatus::Ok) {
        Report(frame::ResponseStatusText(status));
        return 0;
    }
    return 1;
}

int WriteRegister(int64_t address, const void *data, uint8_t length) {
    return Write(frame::kOpWrite, address, data, length);
}

int ReadRegister(int64_t address, void *buffer, uint8_t length) {
    return Read(frame::kOpRead, address, buffer, length);
}

int WriteRegisterOffset(int64_t address, const void *data, uint8_t length) {
    return Write(frame::kOpWriteOffset, WithOffset(address), data, length);
}

int ReadRegisterOffset(int64_t address, void *buffer, uint8_t length) {
    return Read(frame::kOpReadOffset, WithOffset(address), buffer, length);
}

} // namespace kestcam

// sim_serial_camera.h - the simulated line-scan camera's side of the serial link: it takes the
// bytes the driver writes, recognises command frames, answers them from its register map (six
// float blocks of value, minimum and maximum, and the exposure-mode register) and records every
// frame it received, in order. Pure byte handling: a transport (a pseudo-terminal) feeds it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "settings/ini_store.h"

namespace kestcam::sim {

// One float block of the register map: value at base + 1, minimum at base + 5, maximum at base + 9.
struct SimFloatRegister {
    const char *name; // as the driver names it in its messages
    int base;
    float value;
    float min;
    float max;
};

// How the camera misbehaves. Each fault is off by default.
struct SimCameraFaults {
    bool noAnswer = false;      // answers nothing at all
    uint8_t ackByte = 0x06;     // the acknowledgement sent for an accepted frame (anything else: a wrong one)
    bool badChecksum = false;   // response frames carry a wrong checksum
    bool shortResponse = false; // response frames lack their last byte
    int silentAfterFrames = 0;  // N > 0: answers the first N frames received, then nothing
    int badChecksumAfterFrames = 0; // N > 0: response frames after the first N frames carry a wrong checksum
};

struct SimCameraConfig {
    std::array<SimFloatRegister, 6> floats{{
        {"ExposureTime", 0x1500, 100.0f, 10.0f, 10000.0f},
        {"LinePeriod", 0x1600, 200.0f, 20.0f, 50000.0f},
        {"Gain", 0x0E00, 0.0f, 0.0f, 12.0f},
        {"GainLRBalance", 0x0E20, 0.0f, -2.0f, 2.0f},
        {"DigitalOffset", 0x0F00, 0.0f, -255.0f, 255.0f},
        {"DigitalOffsetLRBalance", 0x0F20, 0.0f, -32.0f, 32.0f},
    }};
    int exposureMode = 0;   // 0, 2, 4, 5 or 6
    int responseOpcode = 2; // 2 or 6
    SimCameraFaults faults;
};

// Reads a configuration: sections named after the float registers (keys Value, Min, Max), a
// [Camera] section (ExposureMode, ResponseOpcode) and [Faults] (NoAnswer, AckByte, BadChecksum,
// ShortResponse, SilentAfterFrames). Missing keys keep the defaults. False with a reason naming
// section and key when a value is out of range.
bool ParseCameraConfig(const ini::IniDocument &doc, SimCameraConfig &config, std::string &reason);

// One frame as the camera received it.
struct SimFrame {
    int opcode = 0;
    uint64_t address = 0;
    uint8_t dataLen = 0;
    std::vector<uint8_t> data; // the data bytes of a write
    bool checksumFlag = false;
    bool checksumOk = true;
    bool endOk = true; // the byte after it was BFE
};

// One line describing a frame: "read 0x1505 4", "write 0x1501 250" (a float value register),
// "write 0x1401 4" (the mode register), "write 0x1234 len 2 abcd" (any other write),
// "op5 0x1520 4" (other opcodes), followed by " bad-checksum" or " bad-end" when malformed.
std::string DescribeFrame(const SimFrame &frame);

class SimSerialCamera {
public:
    static constexpr uint8_t kNak = 0x15; // the answer to a frame the camera refuses

    explicit SimSerialCamera(const SimCameraConfig &config = SimCameraConfig());

    // Takes bytes from the line; returns what the camera sends back (possibly nothing).
    std::vector<uint8_t> Feed(const uint8_t *bytes, size_t count);

    std::vector<SimFrame> Frames() const;
    // The frames received, described one a line (DescribeFrame).
    std::vector<std::string> FrameLog() const;
    void ClearFrames();
    // Bytes received outside any frame (before a BFS).
    size_t NoiseBytes() const;

    // Called for every frame received, before it is answered, with the camera's lock held: the
    // observer must not call back into the camera. Set before bytes arrive.
    void SetObserver(std::function<void(const SimFrame &)> observer) { observer_ = std::move(observer); }
    // Whether frames are kept for Frames(); a long-running camera that only reports them turns it off.
    void SetRecording(bool on);

    void SetFaults(const SimCameraFaults &faults);
    float Value(const std::string &name) const;
    void SetLimits(const std::string &name, float min, float max);
    int ExposureMode() const;

private:
    // Where the receiver stands in the frame it is reading.
    enum class State { WaitStart, Ftf, DataLen, Address, Data, Checksum, End };

    void ReceiveByte(uint8_t byte, std::vector<uint8_t> &reply);
    void Answer(const SimFrame &frame, std::vector<uint8_t> &reply);
    bool ReadBytes(uint64_t address, uint8_t count, std::vector<uint8_t> &out) const;
    bool Write(const SimFrame &frame);
    SimFloatRegister *FindFloat(const std::string &name);
    const SimFloatRegister *FindFloat(const std::string &name) const;

    mutable std::mutex mutex_;
    SimCameraConfig config_;
    std::vector<SimFrame> frames_;
    size_t received_ = 0; // frames received, recorded or not
    bool recording_ = true;
    std::function<void(const SimFrame &)> observer_;
    size_t noise_ = 0;

    State state_ = State::WaitStart;
    SimFrame current_;
    int addressBytes_ = 0;
    int addressLeft_ = 0;
    size_t dataLeft_ = 0;
    uint8_t sum_ = 0;
};

} // namespace kestcam::sim

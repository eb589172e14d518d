// sim_serial_camera.cpp - the camera's receiver (one state per part of a command frame), its
// register map and its answers: ACK and a response frame, NAK for what it refuses, or the faults.
#include "sim/camera/sim_serial_camera.h"

#include <cstdio>
#include <cstring>

#include "serial/camera_frame.h"

namespace kestcam::sim {

namespace {

constexpr uint64_t kModeRegister = 0x1401;

bool IsValidMode(uint32_t mode) {
    return mode == 0 || mode == 2 || mode == 4 || mode == 5 || mode == 6;
}

void PutLittleEndian(uint32_t value, uint8_t *bytes) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLittleEndian(const std::vector<uint8_t> &bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        value |= uint32_t{bytes[i]} << (8 * i);
    return value;
}

uint32_t FloatBits(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool IsFloatValueRegister(uint64_t address) {
    for (uint64_t base : {0x1500, 0x1600, 0x0E00, 0x0E20, 0x0F00, 0x0F20})
        if (address == base + 1) return true;
    return false;
}

} // namespace

std::string DescribeFrame(const SimFrame &frame) {
    char text[96];
    const unsigned long long address = frame.address;
    const unsigned length = frame.dataLen;
    const bool plainWrite = frame.opcode == frame::kOpWrite && frame.data.size() == 4;
    if (frame.opcode == frame::kOpRead) {
        std::snprintf(text, sizeof text, "read 0x%04llx %u", address, length);
    } else if (plainWrite && frame.address == kModeRegister) {
        std::snprintf(text, sizeof text, "write 0x%04llx %u", address,
                      static_cast<unsigned>(GetLittleEndian(frame.data)));
    } else if (plainWrite && IsFloatValueRegister(frame.address)) {
        std::snprintf(text, sizeof text, "write 0x%04llx %g", address,
                      static_cast<double>(BitsFloat(GetLittleEndian(frame.data))));
    } else if (frame::CarriesData(frame.opcode)) {
        std::snprintf(text, sizeof text, "%s 0x%04llx len %u ", frame.opcode == frame::kOpWrite ? "write" : "op4",
                      address, length);
    } else {
        std::snprintf(text, sizeof text, "op%d 0x%04llx %u", frame.opcode, address, length);
    }
    std::string line = text;
    if (frame::CarriesData(frame.opcode) && line.back() == ' ') {
        for (uint8_t b : frame.data) {
            std::snprintf(text, sizeof text, "%02x", unsigned{b});
            line += text;
        }
    }
    if (!frame.checksumOk) line += " bad-checksum";
    if (!frame.endOk) line += " bad-end";
    return line;
}

SimSerialCamera::SimSerialCamera(const SimCameraConfig &config) : config_(config) {}

std::vector<uint8_t> SimSerialCamera::Feed(const uint8_t *bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> reply;
    for (size_t i = 0; i < count; ++i)
        ReceiveByte(bytes[i], reply);
    return reply;
}

void SimSerialCamera::ReceiveByte(uint8_t byte, std::vector<uint8_t> &reply) {
    switch (state_) {
    case State::WaitStart:
        if (byte != frame::kBFS) {
            ++noise_;
            return;
        }
        current_ = SimFrame();
        state_ = State::Ftf;
        return;
    case State::Ftf:
        current_.opcode = frame::OpcodeOf(byte);
        current_.checksumFlag = (byte & 0x04) != 0;
        addressBytes_ = ((byte & 0x03) + 1) * 2;
        sum_ = byte;
        state_ = State::DataLen;
        return;
    case State::DataLen:
        current_.dataLen = byte;
        sum_ ^= byte;
        addressLeft_ = addressBytes_;
        state_ = State::Address;
        return;
    case State::Address:
        current_.address |= uint64_t{byte} << (8 * (addressBytes_ - addressLeft_));
        sum_ ^= byte;
        if (--addressLeft_ > 0) return;
        dataLeft_ = frame::CarriesData(current_.opcode) ? current_.dataLen : 0;
        state_ = dataLeft_ > 0 ? State::Data : current_.checksumFlag ? State::Checksum : State::End;
        return;
    case State::Data:
        current_.data.push_back(byte);
        sum_ ^= byte;
        if (--dataLeft_ > 0) return;
        state_ = current_.checksumFlag ? State::Checksum : State::End;
        return;
    case State::Checksum:
        current_.checksumOk = byte == sum_;
        state_ = State::End;
        return;
    case State::End:
        current_.endOk = byte == frame::kBFE;
        state_ = State::WaitStart;
        ++received_;
        if (recording_) frames_.push_back(current_);
        if (observer_) observer_(current_);
        Answer(current_, reply);
        return;
    }
}

void SimSerialCamera::Answer(const SimFrame &frame, std::vector<uint8_t> &reply) {
    const SimCameraFaults &faults = config_.faults;
    if (faults.noAnswer) return;
    if (faults.silentAfterFrames > 0 && received_ > static_cast<size_t>(faults.silentAfterFrames)) return;

    std::vector<uint8_t> data;
    bool accepted = frame.checksumOk && frame.endOk;
    const bool isRead = frame.opcode == frame::kOpRead || frame.opcode == frame::kOpReadOffset;
    if (accepted) {
        if (isRead)
            accepted = ReadBytes(frame.address, frame.dataLen, data);
        else if (frame::CarriesData(frame.opcode))
            accepted = Write(frame);
        else
            accepted = false;
    }
    if (!accepted) {
        reply.push_back(kNak);
        return;
    }
    reply.push_back(faults.ackByte);
    if (!isRead || faults.ackByte != frame::kACK) return;

    const size_t start = reply.size();
    reply.push_back(frame::kBFS);
    reply.push_back(static_cast<uint8_t>((config_.responseOpcode & 0x1F) << 3 | (frame.checksumFlag ? 0x04 : 0)));
    reply.push_back(frame.dataLen);
    reply.insert(reply.end(), data.begin(), data.end());
    if (frame.checksumFlag) {
        const uint8_t sum = frame::Xor(reply.data() + start + 1, reply.size() - start - 1);
        const bool bad = faults.badChecksum || (faults.badChecksumAfterFrames > 0 &&
                                                received_ > static_cast<size_t>(faults.badChecksumAfterFrames));
        reply.push_back(bad ? static_cast<uint8_t>(~sum) : sum);
    }
    reply.push_back(frame::kBFE);
    if (faults.shortResponse) reply.pop_back();
}

bool SimSerialCamera::ReadBytes(uint64_t address, uint8_t count, std::vector<uint8_t> &out) const {
    // The register space byte by byte: each block's value, minimum and maximum lie one after another.
    std::map<uint64_t, uint8_t> space;
    auto place = [&space](uint64_t at, uint32_t bits) {
        uint8_t bytes[4];
        PutLittleEndian(bits, bytes);
        for (int i = 0; i < 4; ++i)
            space[at + i] = bytes[i];
    };
    for (const SimFloatRegister &r : config_.floats) {
        place(r.base + 1, FloatBits(r.value));
        place(r.base + 5, FloatBits(r.min));
        place(r.base + 9, FloatBits(r.max));
    }
    place(kModeRegister, static_cast<uint32_t>(config_.exposureMode));
    out.clear();
    for (uint64_t i = 0; i < count; ++i) {
        const auto it = space.find(address + i);
        if (it == space.end()) return false;
        out.push_back(it->second);
    }
    return true;
}

bool SimSerialCamera::Write(const SimFrame &frame) {
    if (frame.dataLen != 4) return false;
    const uint32_t bits = GetLittleEndian(frame.data);
    if (frame.address == kModeRegister) {
        if (!IsValidMode(bits)) return false;
        config_.exposureMode = static_cast<int>(bits);
        return true;
    }
    // Only the values may be written; the limits are the camera's own.
    for (SimFloatRegister &r : config_.floats) {
        if (frame.address == static_cast<uint64_t>(r.base) + 1) {
            r.value = BitsFloat(bits);
            return true;
        }
    }
    return false;
}

std::vector<SimFrame> SimSerialCamera::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<std::string> SimSerialCamera::FrameLog() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const SimFrame &f : frames_)
        lines.push_back(DescribeFrame(f));
    return lines;
}

void SimSerialCamera::ClearFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
    noise_ = 0;
}

size_t SimSerialCamera::NoiseBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return noise_;
}

void SimSerialCamera::SetRecording(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = on;
}

void SimSerialCamera::SetFaults(const SimCameraFaults &faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.faults = faults;
}

SimFloatRegister *SimSerialCamera::FindFloat(const std::string &name) {
    for (SimFloatRegister &r : config_.floats)
        if (name == r.name) return &r;
    return nullptr;
}

const SimFloatRegister *SimSerialCamera::FindFloat(const std::string &name) const {
    for (const SimFloatRegister &r : config_.floats)
        if (name == r.name) return &r;
    return nullptr;
}

float SimSerialCamera::Value(const std::string &name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SimFloatRegister *r = FindFloat(name);
    return r != nullptr ? r->value : 0.0f;
}

void SimSerialCamera::SetLimits(const std::string &name, float min, float max) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (SimFloatRegister *r = FindFloat(name)) {
        r->min = min;
        r->max = max;
    }
}

int SimSerialCamera::ExposureMode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.exposureMode;
}

} // namespace kestcam::sim

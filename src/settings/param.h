// param.h - self-describing settings parameters: a key, a value, inclusive bounds and the value
// the parameter was built with. The key doubles as settings-file key and host property name.
#pragma once

#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace kestcam {

// Param<int> and Param<double>: bounds are checked or applied only when a caller asks.
template <typename T> class Param {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, double>, "Param<T>: int, double or std::string");

public:
    Param() = default;
    Param(std::string key, T def, T minValue, T maxValue)
        : name(std::move(key)), value(def), max(maxValue), min(minValue), defaultValue(def) {}
    virtual ~Param() = default;
    Param(const Param &) = default;
    Param &operator=(const Param &) = default;

    bool InRange() const { return min <= value && value <= max; }
    // Lower bound first, so inverted bounds (the camera may report them) end at max.
    void Clamp() {
        if (value < min) value = min;
        if (value > max) value = max;
    }
    // "name=value\n" in the stream's own formatting.
    virtual void Print(std::ostream &out) const { out << name << "=" << value << "\n"; }

    std::string name;
    T value{};
    T max{};
    T min{};
    T defaultValue{}; // copied along, consulted by nothing
};

// A text parameter: bounds and default all hold the construction text and take part in no check.
template <> class Param<std::string> {
public:
    Param() = default;
    Param(std::string key, const std::string &def)
        : name(std::move(key)), value(def), max(def), min(def), defaultValue(def) {}
    virtual ~Param() = default;
    Param(const Param &) = default;
    Param &operator=(const Param &) = default;

    virtual void Print(std::ostream &out) const { out << name << "=" << value << "\n"; }

    std::string name;
    std::string value;
    std::string max;
    std::string min;
    std::string defaultValue;
};

// A text parameter restricted to a list of texts, each with the integer code a device uses for
// it. value holds the text; texts and codes always have the same length.
class ParamEnum : public Param<std::string> {
public:
    ParamEnum() = default;
    ParamEnum(std::string key, const std::string &def) : Param<std::string>(std::move(key), def) {}

    // value keeps its text.
    void ClearEntries();
    // A null or empty text is ignored. The first entry of a list becomes the value, replacing
    // the construction text.
    void AddEntry(const char *text, int code);
    void AddEntry(const std::string &text, int code) { AddEntry(text.c_str(), code); }
    // False, outputs untouched, when index names no entry.
    bool GetEntry(int index, std::string &text, int &code) const;
    int EntryCount() const;
    // Exact, case-sensitive match of the whole text; 0 for a null or empty text or no match.
    int CodeOf(const char *text) const;
    int CodeOf(const std::string &text) const { return CodeOf(text.c_str()); }
    int CurrentCode() const { return CodeOf(value); }
    // The first entry with that code; value is unchanged when there is none.
    void SetByCode(int code);

    std::vector<std::string> texts;
    std::vector<int> codes;
};

} // namespace kestcam

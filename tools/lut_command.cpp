// lut_command.cpp - `kestcam lut`: generates logarithmic table files and lists a table file's columns.
// It works on files with the library's own table code; the driver is not loaded.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "acquisition/lut_csv_reader.h"
#include "acquisition/lut_generator.h"
#include "commands.h"

namespace {

using kestcam::cli::kExitFailure;
using kestcam::cli::kExitOk;
using kestcam::cli::kExitUsage;

void LutUsage() {
    kestcam::cli::PrintUsageError("lut");
}

int UsageError(const std::string &message) {
    std::fprintf(stderr, "kestcam lut: %s\n", message.c_str());
    LutUsage();
    return kExitUsage;
}

// A whole argument as a decimal int; anything else (empty, trailing text, out of int range) is not one.
bool ParseInt(const char *text, int *value) {
    errno = 0;
    char *end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    *value = static_cast<int>(parsed);
    return true;
}

// The dispatcher takes the common options before the command; after it they are accepted and unused,
// since this command needs no driver. Returns the number of arguments consumed at i (0: not one).
int SkipCommonOption(int argc, char **argv, int i) {
    const std::string arg = argv[i];
    if (arg == "-v") return 1;
    if ((arg == "--driver" || arg == "--system-path") && i + 1 < argc) return 2;
    return 0;
}

int Generate(int argc, char **argv) {
    int lsb = 0; // the camera settings' defaults
    int msb = 15;
    int steepness = 1;
    std::string out;
    for (int i = 2; i < argc; ++i) {
        if (int skip = SkipCommonOption(argc, argv, i)) {
            i += skip - 1;
            continue;
        }
        const std::string arg = argv[i];
        int *number = arg == "--lsb" ? &lsb : arg == "--msb" ? &msb : arg == "--steepness" ? &steepness : nullptr;
        const bool isOut = arg == "-o" || arg == "--out";
        if (number == nullptr && !isOut) return UsageError("unknown option '" + arg + "'");
        if (i + 1 >= argc) return UsageError(arg + " needs a value");
        const char *value = argv[++i];
        if (isOut) {
            out = value;
        } else if (!ParseInt(value, number)) {
            return UsageError(arg + " needs a whole number");
        }
    }
    if (out.empty()) return UsageError("generate needs -o FILE");

    std::string reason;
    if (!kestcam::LutGeneratorInputsValid(lsb, msb, steepness, &reason)) {
        std::fprintf(stderr, "kestcam lut: %s\n", reason.c_str());
        return kExitFailure;
    }
    if (!kestcam::WriteLutGeneratorFile(out, lsb, msb, steepness)) {
        std::fprintf(stderr, "kestcam lut: cannot write '%s'\n", out.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

int Columns(int argc, char **argv) {
    std::string file;
    for (int i = 2; i < argc; ++i) {
        if (int skip = SkipCommonOption(argc, argv, i)) {
            i += skip - 1;
            continue;
        }
        if (!file.empty()) return UsageError(std::string("unexpected argument '") + argv[i] + "'");
        file = argv[i];
    }
    if (file.empty()) return UsageError("columns needs FILE");

    // Opened here only to tell a missing file from one without columns; the reader reports both alike.
    if (!std::ifstream(file, std::ios::in | std::ios::binary).is_open()) {
        std::fprintf(stderr, "kestcam lut: cannot open '%s'\n", file.c_str());
        return kExitFailure;
    }
    const kestcam::LutCsvReader reader(file);
    if (reader.GetColumnCount() == 0) {
        std::fprintf(stderr, "kestcam lut: '%s' has no table columns\n", file.c_str());
        return kExitFailure;
    }
    for (int i = 0; i < reader.GetColumnCount(); ++i)
        std::printf("%s\n", reader.GetColumnName(i));
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

} // namespace

int RunLutCommand(int argc, char **argv) {
    if (argc < 2) {
        LutUsage();
        return kExitUsage;
    }
    const std::string sub = argv[1];
    if (sub == "generate") return Generate(argc, argv);
    if (sub == "columns") return Columns(argc, argv);
    return UsageError("unknown sub-command '" + sub + "'");
}

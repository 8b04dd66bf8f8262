// What a package does to the device, for people and programs: the dry run and power-cut
// analysis of a package read from files, as text and as JSON.
#pragma once

#include "deltamaker/verify/device_sim.h"

#include <string>

// The resume model in two sentences, as --help and the manual state it.
extern const char *const kResumeModelText;

// Version of the JSON document written by device_run_json; raised when a key changes meaning
// or goes away (new keys may be added).
constexpr int kDeviceRunJsonVersion = 1;

// The files a dry run reads; empty paths are not given.
struct DeviceRunFiles {
    std::string package;
    std::string partition;
    std::string oldImage;
    std::string newImage;
    std::string boot;
    std::string nv1;
    std::string nv2;
    int method = -1;
    bool requireOld = true; // see DeviceRunInputs
};

// Reads the files and runs the package (device_run). The partition table is read for the
// package's board. False with the reason when a file cannot be read or the run cannot start.
// `parts`: the partitions to use when no table file is named (none: the table is required).
bool device_run_files(const DeviceRunFiles &files, const FlashProfile &flash, bool powerCuts,
                      DeviceRunResult &result, std::string &error,
                      const std::vector<PartEntry> *parts = nullptr);

// Text report: a line per image and the total, the notes, and (powerCuts) every unsafe step
// with a summary.
std::string device_run_text(const DeviceRunResult &result, const std::string &package,
                            bool powerCuts);

// JSON report (see the manual for its keys); `package` names the file.
std::string device_run_json(const DeviceRunResult &result, const std::string &package,
                            bool powerCuts);

// JSON string literal of a text (quotes, backslashes and control bytes escaped).
std::string json_quote(const std::string &text);

#pragma once
// Helpers of the extraction tests: running a peer tool or a Python script to
// make an archive, extracting the way the window's merge does, recording the
// events, and patching archive bytes.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archiver/Arkiva.h"
#include "tests/common/TestSupport.h"

// Runs a shell command; fails the test (with its output) when it does not exit 0.
void Shell(const std::string& cmd);
// Runs python3 on the script with the arguments (each quoted).
void RunPython(const std::string& script, const std::vector<std::string>& args = {});

// Everything the archiver reported through its events during one extraction.
struct TEventLog {
    struct Failure {
        std::string Name;
        int32_t Native = 0;
        std::string Message;
    };
    struct Progress {
        bool Overall = false;
        std::string Name;
        TAKProgressPhase Phase = ppStart;
        double Value = 0;
    };
    std::vector<Failure> Failures;
    std::vector<Progress> Events;
    // The answer to every failure; fxaIgnore keeps the loop going.
    TAKAction FailureAnswer = fxaIgnore;

    // Hooks OnProcessFileFailure, OnOverallProgress and OnFileProgress.
    void Attach(TAKBaseArchiver& archiver);
    std::vector<int32_t> Natives() const;
};

// The window's merge: FileName, automatic open, BaseDir, "*.*" with the
// default attribute filter, close (also when extracting throws).
void ExtractAll(TAKBaseArchiver& archiver, const std::string& archive, const std::string& destination,
                const std::string& mask = "*.*");
// ExtractAll with a fresh archiver (ExtractCorruptedFiles as given): what
// its events reported.
TEventLog ExtractLogged(const std::string& archive, const std::string& destination, bool keepCorrupted = false,
                        const std::string& mask = "*.*");

// The CRC-32 and sizes stay; byte `offset` of the file is XORed with `mask`.
void FlipByte(const std::string& path, int64_t offset, uint8_t mask = 0x01);
// No temporary file is left behind anywhere below the folder.
void ExpectNoTemporaries(const std::string& folder);
// Overwrites bytes of the file at offset.
void PatchBytes(const std::string& path, int64_t offset, const std::string& bytes);
// Offset of the first occurrence of `needle` in the file (-1 when absent).
int64_t FindBytes(const std::string& path, const std::string& needle, int64_t from = 0);
std::string Le16(uint16_t v);
std::string Le32(uint32_t v);

// Names of the entries of a folder (recursively, "/"-separated, folders with
// a trailing "/"), sorted.
std::vector<std::string> ListTree(const std::string& folder);
// Sets the file's modification time to an even-second local time so that
// its MS-DOS stamp is exact ("YYYY-MM-DD HH:MM:SS").
void SetMTime(const std::string& path, const std::string& localTime);

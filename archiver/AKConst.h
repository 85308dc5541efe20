#pragma once
// Message texts and the code table of the archiver's errors.
#include <cstdint>

constexpr int AKMessageCount = 36;
constexpr int AKCodeCount = 61;

struct TAKErrorCodeEntry {
    int32_t Code;
    int32_t MessageIndex;
};

extern const char* const ErrorMessages[AKMessageCount];
extern const TAKErrorCodeEntry ErrorCodeTable[AKCodeCount];

// Prompts of the default event dispatch.
extern const char* const SOverwritePrompt;       // Overwrite file "%s" with "%s"
extern const char* const SPasswordCaption;       // Password for "%s"
extern const char* const SPasswordPrompt;        // Enter password: 
extern const char* const SProcessFileFailure;    // %s. File processing error, possibly disk is full
extern const char* const SInsertBlankDisk;       // Please insert a blank disk #%d
extern const char* const SInsertFirstDisk;       // Please insert the first disk
extern const char* const SInsertLastDisk;        // Please insert the last disk
extern const char* const SLastDiskNotFound;      // File '%s' not found on inserted disk. Please insert last disk with required file
extern const char* const SInsertDisk;            // Please insert disk #%d
extern const char* const SDiskFull;              // Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk or find another blank disk
extern const char* const SCannotSetSpanningMode; // Cannot set spanning mode on open archive

#pragma once
// Small helpers shared by every test suite: a self-removing temporary
// folder, whole-file I/O, running shell commands, reproducible bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Dialogs.h"

// A fresh folder under the system temporary folder, removed with all its
// content when the object goes out of scope.
class TempFolder {
public:
    TempFolder();
    // A fresh folder below base instead (for example "/dev/shm/" for tests
    // that write gigabytes and want them in memory).
    explicit TempFolder(const std::string& base);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Absolute, with a trailing "/".
    const std::string& Path() const { return path_; }
    // Path() + rel.
    std::string File(const std::string& rel) const { return path_ + rel; }

private:
    std::string path_;
};

// A tmpfs of `bytes` mounted on a fresh folder, unmounted (and the folder
// removed) when the object goes: a drive that fills up for real. Mounting
// needs root; Refused() says why it could not be mounted, empty when it was.
class TmpfsDrive {
public:
    explicit TmpfsDrive(int64_t bytes);
    ~TmpfsDrive();
    TmpfsDrive(const TmpfsDrive&) = delete;
    TmpfsDrive& operator=(const TmpfsDrive&) = delete;

    // Absolute, with a trailing "/".
    const std::string& Path() const { return folder_.Path(); }
    std::string File(const std::string& rel) const { return folder_.File(rel); }
    const std::string& Refused() const { return refused_; }

private:
    TempFolder folder_;
    std::string refused_;
};

// Creates or replaces the file with exactly these bytes; throws std::runtime_error on failure.
void WriteFile(const std::string& path, const std::string& bytes);
// The whole content; throws std::runtime_error when the file cannot be read.
std::string ReadFile(const std::string& path);
// Runs cmd through /bin/sh; returns its exit status (-1 when it could not
// run or was killed). output, when given, receives stdout and stderr.
int RunCommand(const std::string& cmd, std::string* output = nullptr);
// n bytes from a fixed generator: the same seed always gives the same bytes.
std::string RandomBytes(size_t n, uint32_t seed);
// True when the program is found on PATH.
bool HaveTool(const std::string& name);
// Quotes s for /bin/sh (single quotes).
std::string ShellQuote(const std::string& s);

// Installs scripted dialogs for the life of the object: every question of
// the archiver's default dispatch is answered from its queues.
class ScriptedDialogsScope {
public:
    ScriptedDialogsScope() : dialogs(std::make_shared<ScriptedDialogs>()) { previous_ = SetDialogs(dialogs); }
    ~ScriptedDialogsScope() { SetDialogs(previous_); }
    ScriptedDialogsScope(const ScriptedDialogsScope&) = delete;
    ScriptedDialogsScope& operator=(const ScriptedDialogsScope&) = delete;
    std::shared_ptr<ScriptedDialogs> dialogs;

private:
    std::shared_ptr<Dialogs> previous_;
};

// Files written so that they are either complete or untouched: the new content goes to a
// temporary file in the same folder, is flushed to the disk, and then replaces the target.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qmx::tool {

// Throws ToolError{Outcome::output} naming the file and the system's reason.
void write_durably(const std::wstring& path, const std::string& bytes);
// The file's bytes; nothing when it does not exist. Throws ToolError{Outcome::output}.
std::optional<std::string> read_file(const std::wstring& path);
bool file_exists(const std::wstring& path);
// Creates the folder and every missing folder above it. Throws ToolError{Outcome::output}.
void create_folders(const std::wstring& folder);

// Holds PATH.lock open without sharing, so that a second writer of PATH (another process
// here, or another PC through a share, which enforces the sharing mode) waits for it.
// The file is deleted when the last handle closes, also when the process is killed.
class FileLock {
public:
    // Waits up to wait_seconds, then ToolError{Outcome::busy}.
    FileLock(const std::wstring& path, unsigned wait_seconds);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    void* handle_;
};

// One visit to the scanner at a time on this PC: the console, the window and scheduled
// runs share one named mutex. A holder that was killed gives the mutex up.
class ScannerLock {
public:
    // Waits up to wait_seconds, saying so through `waiting`, then ToolError{Outcome::busy}.
    explicit ScannerLock(unsigned wait_seconds, const std::function<void(const std::wstring&)>& waiting = {});
    ~ScannerLock();
    ScannerLock(const ScannerLock&) = delete;
    ScannerLock& operator=(const ScannerLock&) = delete;

private:
    void* mutex_;
};

} // namespace qmx::tool

// Scratch folders for the Windows tests, removed with everything in them.
#pragma once

#include <string>
#include <windows.h>

namespace qmx::test {

class TempFolder {
public:
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// The folder of the running test program, where the test DLLs are built.
std::wstring program_folder();

void remove_tree(const std::wstring& path);

} // namespace qmx::test

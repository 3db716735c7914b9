#include "windows/platform.h"

#include <string>
#include <windows.h>

namespace qmx {

namespace {

constexpr DWORD not_ordinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

class FindNames final : public FileNames {
public:
    explicit FindNames(const std::wstring& pattern)
        : find_(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data_, FindExSearchNameMatch, nullptr, 0)),
          pending_(find_ != INVALID_HANDLE_VALUE)
    {
    }
    ~FindNames() override
    {
        if (find_ != INVALID_HANDLE_VALUE)
            FindClose(find_);
    }
    FindNames(const FindNames&) = delete;
    FindNames& operator=(const FindNames&) = delete;

    std::u16string next() override
    {
        while (pending_) {
            WIN32_FIND_DATAW entry = data_;
            pending_ = FindNextFileW(find_, &data_) != FALSE;
            if (!(entry.dwFileAttributes & not_ordinary) && entry.cFileName[0])
                return std::u16string(reinterpret_cast<const char16_t*>(entry.cFileName));
        }
        return {};
    }

private:
    WIN32_FIND_DATAW data_{};
    HANDLE find_;
    bool pending_;
};

} // namespace

std::unique_ptr<FileNames> Win32Directory::list(std::u16string_view pattern)
{
    return std::make_unique<FindNames>(std::wstring(pattern.begin(), pattern.end()));
}

} // namespace qmx

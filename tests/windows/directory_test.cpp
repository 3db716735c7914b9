// num_files against a real c:\pantrylog in the private prefix.
#include "core/clicker.h"
#include "windows/platform.h"
#include "support/fake_platform.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

const std::wstring pantrylog = L"c:\\pantrylog";

void make_file(const std::wstring& path, DWORD attributes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    if (attributes != FILE_ATTRIBUTE_NORMAL) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    }
}

// Wine keeps the hidden and system attributes in extended attributes, which some file
// systems (the emulated guest's tmpfs) cannot hold: there the attributes do not stick.
bool keeps_attribute(const std::wstring& path, DWORD attribute)
{
    const DWORD found = GetFileAttributesW(path.c_str());
    return found != INVALID_FILE_ATTRIBUTES && (found & attribute) != 0;
}

class NumFiles : public ::testing::Test {
protected:
    void SetUp() override { test::remove_tree(pantrylog); }
    void TearDown() override { test::remove_tree(pantrylog); }

    std::int16_t num_files()
    {
        test::FakePlatform fake;
        Win32Directory directory;
        Clicker clicker{Platform{fake.scanner, fake.clock, fake.pump, directory}};
        return clicker.get_num_files();
    }
};

TEST_F(NumFiles, NoFolderCountsNothing)
{
    EXPECT_EQ(num_files(), 0);
}

TEST_F(NumFiles, OnlySubdirectoriesCountNothing)
{
    ASSERT_TRUE(CreateDirectoryW(pantrylog.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((pantrylog + L"\\day1").c_str(), nullptr));
    make_file(pantrylog + L"\\day1\\inside.log", FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(num_files(), 0);
}

TEST_F(NumFiles, CountsOrdinaryAndReadOnlyFilesButNotHiddenOrSystemOnes)
{
    ASSERT_TRUE(CreateDirectoryW(pantrylog.c_str(), nullptr));
    make_file(pantrylog + L"\\a.log", FILE_ATTRIBUTE_NORMAL);
    make_file(pantrylog + L"\\b", FILE_ATTRIBUTE_ARCHIVE);
    make_file(pantrylog + L"\\readonly.log", FILE_ATTRIBUTE_READONLY);
    make_file(pantrylog + L"\\hidden.log", FILE_ATTRIBUTE_HIDDEN);
    make_file(pantrylog + L"\\system.log", FILE_ATTRIBUTE_SYSTEM);
    if (!keeps_attribute(pantrylog + L"\\hidden.log", FILE_ATTRIBUTE_HIDDEN) ||
        !keeps_attribute(pantrylog + L"\\system.log", FILE_ATTRIBUTE_SYSTEM))
        GTEST_SKIP() << "this file system does not keep the hidden and system attributes";
    ASSERT_TRUE(CreateDirectoryW((pantrylog + L"\\sub").c_str(), nullptr));
    EXPECT_EQ(num_files(), 3);
}

} // namespace
} // namespace qmx

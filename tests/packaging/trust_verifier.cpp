// Prints WinVerifyTrust's answer (Authenticode, no UI, no revocation check) for each file
// named, as "0x%08X FILE"; exits 0 when every file could be asked about.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring path(MAX_PATH * 4, L'\0');
        path.resize(MultiByteToWideChar(CP_ACP, 0, argv[i], -1, path.data(), static_cast<int>(path.size())));
        if (path.empty())
            return 2;
        WINTRUST_FILE_INFO file{};
        file.cbStruct = sizeof file;
        file.pcwszFilePath = path.c_str();
        WINTRUST_DATA data{};
        data.cbStruct = sizeof data;
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        std::printf("0x%08lX %s\n", static_cast<unsigned long>(result), argv[i]);
    }
    return argc > 1 ? 0 : 2;
}

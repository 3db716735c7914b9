// A minimal csp2.DLL for the binding tests: fixed, recognisable answers. Built with every
// entry, without csp2SetParam, and with a dependency of its own.
#include "windows/csp2_exports.h"

#include <cstring>

extern "C" {

long CSP2_API csp2Init(long port) { return 1000 + port; }
long CSP2_API csp2ReadData(void) { return 42; }
long CSP2_API csp2GetSystemStatus(void) { return 0; }

// Writes exactly `size` bytes; the ninth is 'Z' so the caller's buffer must take it.
long CSP2_API csp2GetDeviceId(char* id, long size)
{
    const char text[] = "ABCDEFGHZ";
    std::memcpy(id, text, size < 9 ? size : 9);
    return 0;
}

// Reports whether the byte after the announced buffer is the zero terminator.
long CSP2_API csp2GetPacket(char* packet, long number, long size)
{
    packet[0] = static_cast<char>(number);
    packet[size - 1] = 'E';
    return packet[size] == 0 ? 7 : -7;
}

long CSP2_API csp2TimeStamp2Str(unsigned char* stamp, char* text, long size)
{
    std::memset(text, 0, size);
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>('0' + stamp[i] % 10);
    return stamp[4] == 0 ? 0 : -1;
}

long CSP2_API csp2WakeUp(void) { return 11; }

long CSP2_API csp2GetTime(unsigned char* clock)
{
    const unsigned char now[6] = {45, 30, 14, 20, 5, 5};
    std::memcpy(clock, now, 6);
    return 0;
}

long CSP2_API csp2SetTime(unsigned char* clock)
{
    long sum = 0;
    for (int i = 0; i < 6; ++i)
        sum += clock[i];
    clock[0] = 0xEE; // the library may write into what it was given
    return clock[6] == 0 ? sum : -1;
}

long CSP2_API csp2PowerDown(void) { return 12; }
long CSP2_API csp2ClearData(void) { return 13; }
long CSP2_API csp2SetDefaults(void) { return 14; }
#ifdef WITH_DEPENDENCY
extern "C" __declspec(dllimport) long test_dependency_answer(void);
long CSP2_API csp2Interrogate(void) { return test_dependency_answer(); }
#else
long CSP2_API csp2Interrogate(void) { return 15; }
#endif

#ifndef OMIT_SET_PARAM
long CSP2_API csp2SetParam(long param, char* value, long size)
{
    return param * 1000 + static_cast<unsigned char>(value[0]) * 10 + size + (value[10] == 0 ? 0 : 500000);
}
#endif

long CSP2_API csp2Restore(void) { return 16; }
}

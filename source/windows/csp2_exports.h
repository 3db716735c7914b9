// The exported entries of csp2.DLL as C declarations. The binding takes its function
// pointer types from these, and the simulator defines its exports against them, so a
// calling-convention or argument mismatch fails to compile on either side.
#pragma once

#define CSP2_API __stdcall

extern "C" {
long CSP2_API csp2Init(long port);
long CSP2_API csp2ReadData(void);
long CSP2_API csp2GetSystemStatus(void);
long CSP2_API csp2GetDeviceId(char* id, long size);
long CSP2_API csp2GetPacket(char* packet, long number, long size);
long CSP2_API csp2TimeStamp2Str(unsigned char* stamp, char* text, long size);
long CSP2_API csp2WakeUp(void);
long CSP2_API csp2GetTime(unsigned char* clock);
long CSP2_API csp2SetTime(unsigned char* clock);
long CSP2_API csp2PowerDown(void);
long CSP2_API csp2ClearData(void);
long CSP2_API csp2SetDefaults(void);
long CSP2_API csp2Interrogate(void);
long CSP2_API csp2SetParam(long param, char* value, long size);
long CSP2_API csp2Restore(void);
}

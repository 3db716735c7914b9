// The scanner library with every call written to the debug output, where a debug viewer
// shows it without any setting: "QMXClicker: csp2Init(3) -> 0". The packet loop would
// give a line per packet and per time stamp, so those calls are only counted, and one
// summary line with the first failure is written before the next other line.
#pragma once

#include "core/scanner/csp2.h"

#include <string>
#include <string_view>
#include <windows.h>

namespace qmx {

class TracedCsp2 final : public Csp2 {
public:
    using Writer = void(WINAPI*)(const wchar_t* line);

    explicit TracedCsp2(Csp2& library, Writer write = OutputDebugStringW) : library_(library), write_(write) {}

    // Writes "QMXClicker: " and the text, after the summary of the packet calls so far.
    void note(std::wstring_view text);

    QMX_CSP2_OVERRIDES;

private:
    // Makes the call and writes its line; `after` tells what the library handed back.
    template <typename Call, typename After>
    std::int32_t traced(const std::wstring& text, Call call, After after);
    template <typename Call>
    std::int32_t traced(const std::wstring& text, Call call);
    // Counts a packet-loop call; `text` is made only for the first failure.
    template <typename Call, typename Text>
    std::int32_t counted(int& calls, Call call, bool (*failed)(std::int32_t), Text text);
    void summarise();

    Csp2& library_;
    Writer write_;
    int packets_ = 0; // csp2GetPacket calls since the last summary
    int stamps_ = 0;  // csp2TimeStamp2Str calls
    std::wstring first_failure_;
};

} // namespace qmx

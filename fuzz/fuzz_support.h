// What every fuzz target shares: reading the fuzzer's bytes, a clock that moves only
// while the component waits, failing loudly on a broken invariant, and the rule that
// nothing but a named automation error may leave a member.
#pragma once

#include "core/automation/error.h"
#include "core/automation/variant.h"
#include "core/platform/platform.h"
#include "support/fake_platform.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

namespace qmx::fuzz {

// A broken invariant: say which, then stop the fuzzer with a crash it reports.
[[noreturn]] inline void fail(const char* file, int line, const char* what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    __builtin_trap();
}

#define FUZZ_CHECK(condition)                                   \
    do {                                                        \
        if (!(condition))                                       \
            ::qmx::fuzz::fail(__FILE__, __LINE__, #condition); \
    } while (0)

// With QMX_FUZZ_TRACE set, a target prints what each member did: for reading a seed or
// a finding by eye.
inline bool tracing()
{
    static const bool on = std::getenv("QMX_FUZZ_TRACE") != nullptr;
    return on;
}

inline void trace_member(const char* member, const std::string& calls, std::optional<int> error)
{
    if (tracing())
        std::fprintf(stderr, "%s: calls %s, %s %d\n", member, calls.c_str(), error ? "error" : "ok", error.value_or(0));
}

// The fuzzer's bytes, taken from the front. Past the end every read gives 0, so a short
// input is still a complete script.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return at_ >= size_; }

    std::uint8_t byte() { return exhausted() ? 0 : data_[at_++]; }

    std::uint16_t u16()
    {
        const unsigned lo = byte();
        return static_cast<std::uint16_t>(lo | unsigned{byte()} << 8);
    }

    std::int32_t i32()
    {
        std::uint32_t v = 0;
        for (int shift = 0; shift < 32; shift += 8)
            v |= std::uint32_t{byte()} << shift;
        return static_cast<std::int32_t>(v);
    }

    double real()
    {
        std::uint64_t bits = 0;
        for (int shift = 0; shift < 64; shift += 8)
            bits |= std::uint64_t{byte()} << shift;
        return std::bit_cast<double>(bits);
    }

    template <typename Array>
    void fill(Array& bytes, std::size_t count)
    {
        for (std::size_t i = 0; i < count && i < bytes.size(); ++i)
            bytes[i] = byte();
    }

    // One 16-bit character: a byte is its Latin-1 character, except 0xFF, which takes
    // the next two bytes as any 16-bit character.
    char16_t character()
    {
        const std::uint8_t b = byte();
        return b == 0xFF ? static_cast<char16_t>(u16()) : static_cast<char16_t>(b);
    }

    // A text whose length comes first (one byte, so at most 255 characters).
    std::u16string text()
    {
        const std::size_t length = byte();
        std::u16string out;
        for (std::size_t i = 0; i < length && !exhausted(); ++i)
            out.push_back(character());
        return out;
    }

    // Everything that is left, as characters.
    std::u16string rest_as_text()
    {
        std::u16string out;
        while (!exhausted())
            out.push_back(character());
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// An object whose default value is given, or that has none.
class FuzzObject final : public AutomationObject {
public:
    explicit FuzzObject(std::optional<Variant> value) : value_(std::move(value)) {}
    std::optional<Variant> default_value() const override { return value_; }

private:
    std::optional<Variant> value_;
};

// A VARIANT of any kind the host can pass: Empty, Null, numbers, booleans, dates, texts,
// and objects with or without a default value.
inline Variant any_variant(Input& in, int depth = 0)
{
    switch (in.byte() % 10) {
    case 0: return Variant();
    case 1: return Variant::null();
    case 2: return Variant::from_short(static_cast<std::int16_t>(in.u16()));
    case 3: return Variant::from_long(in.i32());
    case 4: return Variant::from_double(in.real());
    case 5: return Variant::from_bool(in.byte() & 1);
    case 6: // a date of the usual range, or any double at all
        return Variant::from_date(in.byte() & 1 ? in.real() : static_cast<double>(in.i32()) / 1024.0);
    case 7:
        if (depth < 3)
            return Variant::from_object(std::make_shared<FuzzObject>(any_variant(in, depth + 1)));
        return Variant::from_object(std::make_shared<FuzzObject>(std::nullopt));
    case 8: return Variant::from_object(std::make_shared<FuzzObject>(std::nullopt));
    default: return Variant::from_text(in.text());
    }
}

// Runs a member. An automation error whose number is in `allowed` is returned; any other
// error number, any other exception, is a finding.
template <typename Member>
std::optional<int> run_member(std::initializer_list<int> allowed, Member&& member)
{
    try {
        member();
        return std::nullopt;
    } catch (const AutomationError& error) {
        if (std::find(allowed.begin(), allowed.end(), error.code()) == allowed.end()) {
            std::fprintf(stderr, "unexpected automation error %d: %s\n", error.code(), error.what());
            fail(__FILE__, __LINE__, "automation error number outside the member's set");
        }
        return error.code();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "exception escaped: %s\n", error.what());
        fail(__FILE__, __LINE__, "an exception other than an automation error escaped");
    } catch (...) {
        fail(__FILE__, __LINE__, "a non-standard exception escaped");
    }
}

// The shared fakes, with the fuzzers' checks on the settle wait: each wait is one '~' in
// the trace, sleeps 1 ms to 2 s at a time and ends within three turns of its loop. Time
// moves only while the component sleeps, from 23:59:58.500, so waits also cross midnight.
struct FuzzPlatform {
    explicit FuzzPlatform(std::string& trace)
    {
        clock.set(2026, 12, 8, 23, 59, 58, 500);
        pump.on_dispatch = [this, &trace] {
            if (trace.empty() || trace.back() != '~') {
                trace.push_back('~');
                turns = 0;
            }
            if (++turns > 3)
                fail(__FILE__, __LINE__, "a settle wait did not end after two seconds");
        };
        pump.on_wait = [](std::int64_t timeout_ms) {
            if (timeout_ms <= 0 || timeout_ms > 2000)
                fail(__FILE__, __LINE__, "the settle wait asked to sleep outside 1 ms to 2 s");
        };
    }
    FuzzPlatform(const FuzzPlatform&) = delete;
    FuzzPlatform& operator=(const FuzzPlatform&) = delete;

    Platform platform(Csp2& scanner) { return Platform{scanner, clock, pump, directory}; }

    test::FakeClock clock;
    test::FakePump pump{clock};
    test::FakeDirectory directory;
    int turns = 0;
};

// One run of the target over the fuzzer's bytes; each target defines it.
void fuzz_one(Input& in);

} // namespace qmx::fuzz

// Members raise automation errors as exceptions, and every throw makes AddressSanitizer
// sweep its whole fake stack (the frames kept for catching a use after return) at the
// next call. At the default 1 MB per size class that sweep cost more than the rest of a
// run; 64 KB holds far deeper call chains than the core's and still catches a use after
// return. ASAN_OPTIONS can still set it.
extern "C" const char* __asan_default_options()
{
    return "max_uar_stack_size_log=16";
}

// libFuzzer's entry, the same for every target.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qmx::fuzz::Input in(data, size);
    qmx::fuzz::fuzz_one(in);
    return 0;
}

// Automation run-time errors: what a member throws, and what the COM layer turns into
// 0x800A0000 + number with the thread's error information.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace qmx {

enum class ErrorNumber : int {
    InvalidArgument = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    FileNotFound = 53,
    InvalidUseOfNull = 94,
    EntryPointNotFound = 453,
};

class AutomationError : public std::exception {
public:
    AutomationError(ErrorNumber number, std::u16string description);
    explicit AutomationError(ErrorNumber number); // with the standard description

    int code() const noexcept { return static_cast<int>(number_); }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return narrow_.c_str(); }

private:
    ErrorNumber number_;
    std::u16string description_;
    std::string narrow_;
};

// The standard description of a run-time error number.
std::u16string_view standard_description(ErrorNumber number);

[[noreturn]] void raise(ErrorNumber number);
// 53 for a library that is nowhere; `searched` lists the places looked at, in order.
[[noreturn]] void raise_library_not_found(std::u16string_view library, std::u16string_view searched);
// Also 53, for a library that is there but does not load: its full path, the system's
// reason and the build it has to be (`needed`, e.g. "a 32-bit DLL").
[[noreturn]] void raise_library_not_loaded(std::u16string_view library, std::u16string_view path,
                                           std::u16string_view reason, std::u16string_view needed);
[[noreturn]] void raise_entry_not_found(std::u16string_view entry, std::u16string_view library);

} // namespace qmx

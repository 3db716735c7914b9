#include "core/automation/error.h"

#include "core/automation/text.h"

namespace qmx {

std::u16string_view standard_description(ErrorNumber number)
{
    switch (number) {
    case ErrorNumber::InvalidArgument: return u"Invalid procedure call or argument";
    case ErrorNumber::Overflow: return u"Overflow";
    case ErrorNumber::SubscriptOutOfRange: return u"Subscript out of range";
    case ErrorNumber::TypeMismatch: return u"Type mismatch";
    case ErrorNumber::FileNotFound: return u"File not found";
    case ErrorNumber::InvalidUseOfNull: return u"Invalid use of Null";
    case ErrorNumber::EntryPointNotFound: return u"Can't find DLL entry point";
    }
    return u"Application-defined or object-defined error";
}

AutomationError::AutomationError(ErrorNumber number, std::u16string description)
    : number_(number), description_(std::move(description)), narrow_(narrow_ascii(description_))
{
}

AutomationError::AutomationError(ErrorNumber number)
    : AutomationError(number, std::u16string(standard_description(number)))
{
}

void raise(ErrorNumber number)
{
    throw AutomationError(number);
}

void raise_library_not_found(std::u16string_view library, std::u16string_view searched)
{
    std::u16string text(standard_description(ErrorNumber::FileNotFound));
    text += u": ";
    text += library;
    text += u", looked for in this order: ";
    text += searched;
    throw AutomationError(ErrorNumber::FileNotFound, std::move(text));
}

// Not "File not found": the file is there, and saying so sends the reader to the wrong fix.
void raise_library_not_loaded(std::u16string_view library, std::u16string_view path, std::u16string_view reason,
                              std::u16string_view needed)
{
    std::u16string text(library);
    text += u" was found but cannot be loaded: ";
    text += path;
    text += u": ";
    text += reason;
    text += u". It has to be ";
    text += needed;
    text += u'.';
    throw AutomationError(ErrorNumber::FileNotFound, std::move(text));
}

void raise_entry_not_found(std::u16string_view entry, std::u16string_view library)
{
    std::u16string text(standard_description(ErrorNumber::EntryPointNotFound));
    text += u' ';
    text += entry;
    text += u" in ";
    text += library;
    throw AutomationError(ErrorNumber::EntryPointNotFound, std::move(text));
}

} // namespace qmx

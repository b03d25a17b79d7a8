#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Base of every exception the framework raises. Each class knows its own name so that
// reports say which exception left a handler, and can be copied out of a catch block
// without slicing (the exception helper hands the caught exception back as an object).
class RuntimeException : public std::exception {
public:
    explicit RuntimeException(std::string message = {}) : message_(std::move(message)) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }
    virtual std::string_view ClassName() const { return "RuntimeException"; }
    virtual std::shared_ptr<RuntimeException> Clone() const {
        return std::make_shared<RuntimeException>(*this);
    }
    [[noreturn]] virtual void Rethrow() const { throw *this; }

private:
    std::string message_;
};

template <class Derived, class Base = RuntimeException> class NamedException : public Base {
public:
    using Base::Base;
    std::shared_ptr<RuntimeException> Clone() const override {
        return std::make_shared<Derived>(static_cast<const Derived&>(*this));
    }
    [[noreturn]] void Rethrow() const override { throw static_cast<const Derived&>(*this); }
};

// A class name cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define ZELIM_NAMED_EXCEPTION(Name)                                                                \
    class Name : public NamedException<Name> {                                                     \
    public:                                                                                        \
        using NamedException<Name>::NamedException;                                                \
        std::string_view ClassName() const override { return #Name; }                              \
    }
// NOLINTEND(bugprone-macro-parentheses)

ZELIM_NAMED_EXCEPTION(NilObjectException);
ZELIM_NAMED_EXCEPTION(OutOfBoundsException);
ZELIM_NAMED_EXCEPTION(StackOverflowException);
ZELIM_NAMED_EXCEPTION(ThreadAccessingUIException);
ZELIM_NAMED_EXCEPTION(IllegalCastException);
ZELIM_NAMED_EXCEPTION(UnsupportedFormatException);

#undef ZELIM_NAMED_EXCEPTION

// An exception of any other type, carried where the framework keeps or reports one: it
// goes by the name of the original's class (unmangled) and its what(), if it had one.
class ForeignException : public RuntimeException {
public:
    ForeignException(std::string className, std::string message)
        : RuntimeException(std::move(message)), className_(std::move(className)) {}
    std::string_view ClassName() const override { return className_; }
    std::shared_ptr<RuntimeException> Clone() const override {
        return std::make_shared<ForeignException>(*this);
    }
    [[noreturn]] void Rethrow() const override { throw *this; }

private:
    std::string className_;
};

// The one place that turns a nil object into NilObjectException.
template <class T> T& Deref(const std::shared_ptr<T>& object, std::string_view what = {}) {
    if (!object) {
        throw NilObjectException(what.empty() ? std::string("nil object used")
                                              : std::string(what) + " is nil");
    }
    return *object;
}

} // namespace platform

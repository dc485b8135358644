// The library's throw helpers for the shipped program. The library keeps them all in one
// object whose logic_error family is built on its reference-counted string, which alone
// brings some 50 KiB of string and exception code into the program.
//
// The allocation errors are thrown exactly as the library throws them. The logic and runtime
// errors (only a program fault raises them: a bad position, a null string, a size beyond
// max_size) are thrown as one small std::exception whose what() is the library's message
// (for a formatted message, its format). The program catches them only with catch (...), and
// one it does not catch ends it either way, so what it does with them is unchanged.
#include <bits/functexcept.h>  // the declarations these definitions must match
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* message) : message_(message ? message : "library error") {}
  const char* what() const noexcept override { return message_; }

 private:
  const char* message_;
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* message) { throw LibraryError(message); }
void __throw_domain_error(const char* message) { throw LibraryError(message); }
void __throw_invalid_argument(const char* message) { throw LibraryError(message); }
void __throw_length_error(const char* message) { throw LibraryError(message); }
void __throw_out_of_range(const char* message) { throw LibraryError(message); }
void __throw_out_of_range_fmt(const char* format, ...) { throw LibraryError(format); }
void __throw_runtime_error(const char* message) { throw LibraryError(message); }
void __throw_range_error(const char* message) { throw LibraryError(message); }
void __throw_overflow_error(const char* message) { throw LibraryError(message); }
void __throw_underflow_error(const char* message) { throw LibraryError(message); }

}  // namespace std

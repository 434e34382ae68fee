// The shipped Windows programs are built without exceptions, yet the C++ library's allocation and
// container error paths throw, and linking them brings exception support and a symbol demangler:
// three times brandcli's own size. Here running out of memory, or a container past its maximum
// size, can only be a dying machine or a bug: the process ends at once instead (exit code 3, the
// C runtime's, which brandcli never gives for an answer of its own).
#include <bits/functexcept.h>

#include <cstdlib>
#include <new>
#include <string>

// The library's own copy of std::string's members is built with exceptions and would bring their
// whole run-time support (unwinder, personality routine, tables) into the program; this copy,
// built here without them, is found first.
template class std::basic_string<char>;

void* operator new(std::size_t size) {
    if (void* memory = std::malloc(size ? size : 1)) {
        return memory;
    }
    std::abort();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace std {

void __throw_bad_alloc() {
    std::abort();
}

void __throw_bad_array_new_length() {
    std::abort();
}

void __throw_length_error(const char*) {
    std::abort();
}

void __throw_logic_error(const char*) {
    std::abort();
}

void __throw_out_of_range_fmt(const char*, ...) {
    std::abort();
}

}  // namespace std

// Ends the process when something is thrown after all (the library's own string code can): the
// library's version of this names the exception, and brings a demangler of 44 KB to do it.
namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx

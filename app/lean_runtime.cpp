// Kelvane.exe is built without exceptions. The standard library's own throw
// helpers would still drag in the whole exception and message-string
// machinery (well over 100 KB), so they are defined here instead: a failure
// inside the library (memory exhausted, a length past max_size) is reported
// in a modal message and ends the program.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void RuntimeFailure() {
    FatalAppExitW(0, L"Kelvane: 运行时错误（内存不足）");
    ExitProcess(3);
}

}  // namespace

namespace std {
void __throw_bad_alloc() {
    RuntimeFailure();
}
void __throw_bad_array_new_length() {
    RuntimeFailure();
}
void __throw_length_error(const char*) {
    RuntimeFailure();
}
void __throw_logic_error(const char*) {
    RuntimeFailure();
}
void __throw_out_of_range_fmt(const char*, ...) {
    RuntimeFailure();
}
void __throw_bad_function_call() {
    RuntimeFailure();
}
}  // namespace std

void* operator new(std::size_t size) {
    if (void* memory = std::malloc(size != 0 ? size : 1)) {
        return memory;
    }
    RuntimeFailure();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

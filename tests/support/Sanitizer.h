#pragma once
// Whether this test program was built with AddressSanitizer, whose shadow memory and reserved address
// space make a process's memory figures say nothing about the program's own.

namespace lumora::test {

constexpr bool BuiltWithAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace lumora::test

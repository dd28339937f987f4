#pragma once

namespace vesk::tables {

// Whether this build checks the bounds of every memory access
// (AddressSanitizer). Code that reads past the end of a text where that is
// safe, or cuts blocks out of one buffer, takes the exact way under it,
// whose bounds the checker knows.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kBoundsChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kBoundsChecked = true;
#else
inline constexpr bool kBoundsChecked = false;
#endif
#else
inline constexpr bool kBoundsChecked = false;
#endif

}  // namespace vesk::tables

// Constants of the compressed block format shared by the decoder and the
// encoder (internal to the codec).
#pragma once

#include <cstdint>

namespace tolv::block {

// LZ77 part: an 8192-byte window, matches of 3 to 256 bytes.
inline constexpr int kWindowBits = 13;
inline constexpr int kWindowSize = 1 << kWindowBits;  // 8192
inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 256;

// Literal/length alphabet: literals 0..255, then match lengths 3..256 as
// symbols 256..509 (symbol = length + 253).
inline constexpr int kLitLenSymbols = 256 + kMaxMatch - kMinMatch + 1;  // 510
inline constexpr int kMatchSymbolBias = 256 - kMinMatch;                // 253
// The code in which the 510 literal/length code lengths are sent.
inline constexpr int kLengthCodeSymbols = 19;
// Distance classes 0..13: the number of significant bits of the distance
// field (distance - 1).
inline constexpr int kDistanceSymbols = kWindowBits + 1;  // 14

// Widths of the symbol-count fields at the head of each code.
inline constexpr int kLengthCodeCountBits = 5;
inline constexpr int kLitLenCountBits = 9;
inline constexpr int kDistanceCountBits = 4;
// In the length code, after the third length a 2-bit count of zero lengths.
inline constexpr int kLengthCodeSpecialPosition = 3;

inline constexpr int kMaxCodeLength = 16;

// Zero-length runs inside the literal/length code lengths: symbol 0 is one
// zero, symbol 1 is 3..18 zeros (4 more bits), symbol 2 is 20..531 zeros
// (9 more bits); symbols 3..18 are the lengths 1..16.
inline constexpr int kShortRunBits = 4;
inline constexpr int kShortRunBase = 3;
inline constexpr int kLongRunBits = 9;
inline constexpr int kLongRunBase = 20;
inline constexpr int kLengthSymbolBias = 2;

}  // namespace tolv::block

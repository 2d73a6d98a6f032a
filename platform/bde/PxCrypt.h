// Password protection of Paradox files. A protected file keeps its header in
// the clear and stores a 4-byte code there (0x5C in 4.0+ data files, 0x25 in
// older data files and in .PX/.Y files); its blocks are scrambled 256 bytes at
// a time under the first two bytes of that code, the place of the chunk in its
// block and the number of the block. The code is a function of the password,
// so a password opens a file when its code equals the stored one. Blob files
// (.MB) are not scrambled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bde {

// The code a password gives (its bytes in the table's character set, 1 to 256
// of them), as PxGetU32 reads it from the header.
std::uint32_t PxPasswordCode(const std::string& passwordBytes);

// Scramble / unscramble one block in place: `size` bytes, a multiple of 256;
// `blockIndex` counts the blocks of the file from 0 (the first after the header).
void PxEncryptBlock(std::uint8_t* block, std::size_t size, std::uint32_t code, std::uint32_t blockIndex) noexcept;
void PxDecryptBlock(std::uint8_t* block, std::size_t size, std::uint32_t code, std::uint32_t blockIndex) noexcept;

} // namespace bde

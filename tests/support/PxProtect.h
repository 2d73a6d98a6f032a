// Protecting a Paradox table file with a password as another engine would:
// the code of the password in its header (0x5C in 4.0+ data files, 0x25
// otherwise), its blocks scrambled. For tests that need protected tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bde/PxCrypt.h"
#include "platform/bde/PxFormat.h"
#include "platform/rtl/TextUtils.h"

namespace testing_support {

// Whether name is a file a table's protection covers (.DB, .PX, .Xnn, .Ynn, .XGn, .YGn).
inline bool IsProtectedPxFile(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = rtl::UpperCaseLatin(name.substr(dot + 1));
    return ext == "DB" || ext == "PX" || (ext.size() == 3 && (ext[0] == 'X' || ext[0] == 'Y'));
}

// Protects the bytes of one such file under code; a file already protected,
// or too short to be one, stays as it is.
inline void ProtectPxFileBytes(std::vector<std::uint8_t>& b, std::uint32_t code)
{
    if (b.size() < 0x78) return;
    const std::size_t headerSize = bde::PxGetU16(b.data() + 2);
    const std::size_t blockSize = static_cast<std::size_t>(b[5]) * 1024;
    const std::size_t at = bde::PxIsDataLayout(b[4]) && b[0x39] >= 0x05 ? 0x5C : 0x25;
    if (bde::PxGetU32(b.data() + at) != 0 || blockSize == 0) return;
    bde::PxPutU32(b.data() + at, code);
    for (std::size_t pos = headerSize, n = 0; pos + blockSize <= b.size(); pos += blockSize, ++n)
        bde::PxEncryptBlock(b.data() + pos, blockSize, code, static_cast<std::uint32_t>(n));
}

} // namespace testing_support

// libFuzzer target of the binary XML reader.
//
// Each input is read three times: behind the signature as it stands, and
// behind the signature, the Options and a ready-made name table with 8-bit
// and with UTF-16 names, so that the node records are reached without a seed
// corpus. The reader may refuse an input only with an rtl::Exception, and
// must decide alike from a string (LoadXML) and from a stream (Load). A
// document it accepts must write back to exactly the bytes it was read from,
// with the Options they carry, through the stream writer and the string
// writer; its text form may be refused but must not break.
#include "tests/fuzz/FuzzCheck.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CoreLib/BinaryXml.h"
#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace {

// The signature, the Options and a table of the five fixed names and four of
// its own in 7 buckets: everything of a document but its node content.
std::string TablePrefix(int options)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("", "", "", CreateNameTable(7));
    for (const char* name : {"a", "b", "item", "ж"}) doc->Get_NameTable()->GetID(name);
    rtl::TMemoryStream stream;
    doc->SaveBinary(stream, options);
    const std::string bytes = stream.ToString();
    return bytes.substr(0, bytes.size() - 2); // no attributes, no children
}

std::uint32_t OptionsOf(std::string_view bytes)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[BinaryXmlSignature.size() + i])) << (8 * i);
    return v;
}

void Check(const std::string& bytes)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    bool loaded = false;
    try {
        doc->LoadXML(bytes);
        loaded = true;
    } catch (const rtl::Exception&) {
    }

    const IXmlDocumentPtr fromStream = CreateXmlDocument();
    bool streamLoaded = false;
    try {
        rtl::TMemoryStream stream(bytes);
        fromStream->Load(stream);
        streamLoaded = true;
    } catch (const rtl::Exception&) {
    }
    // Fewer than 15 bytes are text to Load, and never a whole binary document.
    FUZZ_CHECK(loaded == streamLoaded || bytes.size() < 15);
    if (!loaded) return;

    const std::uint32_t options = OptionsOf(bytes);
    rtl::TMemoryStream saved;
    doc->SaveBinary(saved, static_cast<int>(options));
    FUZZ_CHECK(saved.ToString() == bytes);
    rtl::TMemoryStream savedFromStream;
    fromStream->SaveBinary(savedFromStream, static_cast<int>(options));
    FUZZ_CHECK(savedFromStream.ToString() == bytes);
    if (options == 0) FUZZ_CHECK(doc->Get_BinaryXML() == bytes);

    try {
        (void)doc->Get_XML();
    } catch (const rtl::Exception&) {
        // a value the text form cannot express
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string narrowPrefix = TablePrefix(0);
    static const std::string widePrefix = TablePrefix(1);
    const std::string input(reinterpret_cast<const char*>(data), size);
    Check(std::string(BinaryXmlSignature) + input);
    Check(narrowPrefix + input);
    Check(widePrefix + input);
    return 0;
}

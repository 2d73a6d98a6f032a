// libFuzzer target of the XML text parser.
//
// Each input is loaded twice: as in-program text (LoadXML) and as file bytes
// (Load from a stream, read by the declared encoding). The parser may refuse
// an input only with an rtl::Exception. A document it accepts must write out
// and read back, and the second writing must give the same text; the same
// holds for the stored byte form (Save, then Load).
#include "tests/fuzz/FuzzCheck.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace {

// A document that was read must survive a write and a read unchanged.
void CheckRoundTrip(const IXmlDocumentPtr& doc)
{
    std::string first;
    try {
        first = doc->Get_XML();
    } catch (const rtl::Exception&) {
        return; // a value the writer cannot express (a character outside the code page)
    }
    const IXmlDocumentPtr again = CreateXmlDocument();
    again->LoadXML(first);
    FUZZ_CHECK(again->Get_XML() == first);

    rtl::TMemoryStream saved;
    try {
        doc->Save(saved);
    } catch (const rtl::Exception&) {
        return; // an encoding the byte form cannot hold
    }
    saved.SetPosition(0);
    const IXmlDocumentPtr loaded = CreateXmlDocument();
    loaded->Load(saved);
    FUZZ_CHECK(loaded->Get_XML() == first);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Binary documents have no faithful text form; BinaryXmlFuzz covers them.
    if (IsBinaryXml(input)) return 0;

    const IXmlDocumentPtr text = CreateXmlDocument();
    bool parsed = false;
    try {
        text->LoadXML(input);
        parsed = true;
    } catch (const rtl::Exception&) {
    }
    if (parsed) CheckRoundTrip(text);

    const IXmlDocumentPtr bytes = CreateXmlDocument();
    parsed = false;
    try {
        rtl::TMemoryStream stream(input);
        bytes->Load(stream);
        parsed = true;
    } catch (const rtl::Exception&) {
    }
    if (parsed) CheckRoundTrip(bytes);
    return 0;
}

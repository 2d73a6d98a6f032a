// libFuzzer target of the sector-blob reader.
//
// Each input is read twice: as the blob itself, and behind the signature with
// a version 256..287 chosen by its first byte, so that every layout is
// reached without a seed corpus. The reader may refuse a blob only with an
// rtl::Exception, and then must leave the sector empty and DataVersion
// restored. A blob it accepts must write back, read back and write back again
// to the same bytes; with every outline decoded the same must hold.
#include "tests/fuzz/FuzzCheck.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CoreLib/Transformer.h"
#include "gismodel/SectorData.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Streams.h"

namespace {

std::string Save(const TSectorData& sector)
{
    rtl::TMemoryStream out;
    sector.SaveToStream(out);
    return out.ToString();
}

// Reads bytes that the writer produced: this must not fail.
rtl::RefPtr<TSectorData> ReadOwn(const std::string& bytes)
{
    rtl::RefPtr<TSectorData> sector(new TSectorData);
    rtl::TMemoryStream in(bytes);
    try {
        sector->LoadFromStream(in);
    } catch (const rtl::Exception& e) {
        std::fprintf(stderr, "written blob refused: %s\n", e.what());
        std::abort();
    }
    FUZZ_CHECK(DataVersion == CurrentDataVersion);
    return sector;
}

void CheckSameIdentifiers(TSectorData& a, TSectorData& b)
{
    FUZZ_CHECK(a.Objects.Count() == b.Objects.Count());
    for (int i = 0; i < a.Objects.Count(); ++i) {
        TMapObjectData* x = a.Objects.GetItem(i);
        TMapObjectData* y = b.Objects.GetItem(i);
        FUZZ_CHECK(x->ID == y->ID);
        FUZZ_CHECK(x->ObjectBlock == y->ObjectBlock);
        FUZZ_CHECK(x->Shapes.Count() == y->Shapes.Count());
        for (int k = 0; k < x->Shapes.Count(); ++k)
            FUZZ_CHECK(x->Shapes.GetItem(k)->StyleID == y->Shapes.GetItem(k)->StyleID);
    }
}

void ReadBlob(const std::string& blob)
{
    rtl::RefPtr<TSectorData> sector(new TSectorData);
    rtl::TMemoryStream in(blob);
    try {
        sector->LoadFromStream(in);
    } catch (const rtl::Exception&) {
        FUZZ_CHECK(DataVersion == CurrentDataVersion);
        FUZZ_CHECK(sector->Objects.Count() == 0);
        return;
    }
    FUZZ_CHECK(DataVersion == CurrentDataVersion);

    const std::string written = Save(*sector);
    rtl::RefPtr<TSectorData> again = ReadOwn(written);
    CheckSameIdentifiers(*sector, *again);
    FUZZ_CHECK(Save(*again) == written);

    // Decode every outline, then the rewrite must be stable as well.
    for (int i = 0; i < again->Objects.Count(); ++i) {
        TShapeDataList& shapes = again->Objects.GetItem(i)->Shapes;
        for (int k = 0; k < shapes.Count(); ++k) {
            TContour& contour = shapes.GetItem(k)->Contour;
            try {
                contour.GetCount();
                TContourPointIterator it;
                for (it.First(contour, 0); !it.Eof(); it.Next()) {
                }
            } catch (const rtl::Exception&) {
                // An outline with more arcs than 16-bit indexes can hold.
            }
        }
    }
    const std::string decoded = Save(*again);
    rtl::RefPtr<TSectorData> third = ReadOwn(decoded);
    CheckSameIdentifiers(*sector, *third);
    FUZZ_CHECK(Save(*third) == decoded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    ReadBlob(input);
    if (size > 0) {
        const int version = 256 + data[0] % 32;
        std::string blob = "\xF3\xFF";
        blob.push_back(static_cast<char>(version & 0xFF));
        blob.push_back(static_cast<char>(version >> 8));
        blob.append(input, 1, std::string::npos);
        ReadBlob(blob);
    }
    return 0;
}

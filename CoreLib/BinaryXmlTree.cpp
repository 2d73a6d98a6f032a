// The binary form's name table and node tree, read and written over the
// byte-level readers and writers of BinaryXml.
#include <algorithm>
#include <vector>

#include "CoreLib/BinaryXml.h"
#include "CoreLib/XmlNodes.h"

namespace simplexml {

namespace {

// Reads the name table and the node tree of the binary form. The input is
// untrusted: beyond the byte-level checks of the reader, a table without the
// five fixed names first, an empty or repeated name, a bucket count out of
// range, stored buckets other than those that hashing the names gives, a name
// ID outside the table, an attribute stored twice on one node, an element
// with both a value and children and nesting deeper than the text parser
// allows are refused with the read error, so that every document that loads
// writes back to the same bytes.
class TBinXmlTreeReader {
public:
    explicit TBinXmlTreeReader(TBinXmlReader& reader) : r_(reader) {}

    rtl::RefPtr<TXmlNameTable> ReadNameTable();
    // hasValue: the node is an element with a simple value, so it may have
    // no children.
    void ReadNodeContent(TXmlNode& node, int level, bool hasValue);

private:
    std::int32_t ReadNameID()
    {
        const std::int32_t id = r_.ReadCompressedInt();
        if (!table_->IsValidID(id)) RaiseBinXmlReadError();
        return id;
    }
    void ReadChild(TXmlNodeList& list, int level);

    TBinXmlReader& r_;
    rtl::RefPtr<TXmlNameTable> table_;
    // Per name ID, the stamp of the last node that had an attribute of it.
    std::vector<std::uint32_t> attrStamps_;
    std::uint32_t stamp_ = 0;
};

rtl::RefPtr<TXmlNameTable> TBinXmlTreeReader::ReadNameTable()
{
    constexpr std::int32_t kFixedNames = NAMEID_XML + 1;
    const std::int32_t nameCount = r_.ReadCount(1);
    if (nameCount < kFixedNames) RaiseBinXmlReadError();
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(nameCount));
    for (std::int32_t i = 0; i < nameCount; ++i) {
        names.push_back(r_.ReadString());
        if (names.back().empty()) RaiseBinXmlReadError();
    }
    const std::int32_t bucketCount = r_.ReadCompressedInt();
    if (bucketCount < 1 || bucketCount > kMaxBuckets) RaiseBinXmlReadError();

    // The table is rebuilt by interning the names in order; a name that gets
    // another ID than its place was met before.
    const rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(bucketCount));
    for (std::int32_t id = 0; id < nameCount; ++id) {
        const std::string& name = names[static_cast<std::size_t>(id)];
        if (id < kFixedNames ? name != table->NameOf(id) : table->GetID(name) != id) RaiseBinXmlReadError();
    }

    int used = 0;
    for (int b = 0; b < bucketCount; ++b)
        if (!table->Bucket(b).empty()) ++used;
    if (r_.ReadCount(2) != used) RaiseBinXmlReadError();
    std::int32_t last = -1;
    for (int k = 0; k < used; ++k) {
        const std::int32_t index = r_.ReadCompressedInt();
        if (index <= last || index >= bucketCount) RaiseBinXmlReadError();
        last = index;
        const std::vector<std::int32_t>& bucket = table->Bucket(index);
        const std::int32_t count = r_.ReadCount(4);
        if (bucket.empty() || static_cast<std::size_t>(count) != bucket.size()) RaiseBinXmlReadError();
        for (const std::int32_t id : bucket)
            if (r_.ReadInt32() != id) RaiseBinXmlReadError();
    }
    table_ = table;
    attrStamps_.assign(names.size(), 0);
    return table;
}

void TBinXmlTreeReader::ReadNodeContent(TXmlNode& node, int level, bool hasValue)
{
    const std::int32_t attrCount = r_.ReadCount(2);
    if (++stamp_ == 0) {
        std::fill(attrStamps_.begin(), attrStamps_.end(), 0);
        stamp_ = 1;
    }
    for (std::int32_t i = 0; i < attrCount; ++i) {
        const std::int32_t id = ReadNameID();
        std::uint32_t& seen = attrStamps_[static_cast<std::size_t>(id)];
        if (seen == stamp_) RaiseBinXmlReadError();
        seen = stamp_;
        node.AppendAttr(id, r_.ReadVariantValue());
    }
    const std::int32_t childCount = r_.ReadCount(2);
    if (childCount == 0) return;
    if (hasValue) RaiseBinXmlReadError();
    TXmlNodeList* list = node.GetChildNodeList();
    list->Reserve(list->Count() + childCount);
    for (std::int32_t i = 0; i < childCount; ++i) ReadChild(*list, level);
}

void TBinXmlTreeReader::ReadChild(TXmlNodeList& list, int level)
{
    const std::uint8_t type = r_.ReadByte();
    switch (type) {
    case NODE_ELEMENT: {
        if (level >= kMaxNesting) RaiseBinXmlReadError();
        auto* element = new TXmlElement(table_, ReadNameID());
        list.AppendNew(element);
        rtl::Variant value = r_.ReadVariantValue();
        const bool hasValue = !value.IsEmpty();
        if (hasValue) element->Set_TypedValue(value);
        ReadNodeContent(*element, level + 1, hasValue);
        return;
    }
    case NODE_TEXT: {
        auto* text = new TXmlText(table_, rtl::Variant());
        list.AppendNew(text);
        text->Set_TypedValue(r_.ReadVariantValue());
        return;
    }
    case NODE_CDATA_SECTION:
    case NODE_COMMENT: {
        TXmlCharacterData* data = type == NODE_COMMENT ? static_cast<TXmlCharacterData*>(new TXmlComment(table_, {}))
                                                       : new TXmlCDATASection(table_, {});
        list.AppendNew(data);
        data->Set_Text(r_.ReadString());
        return;
    }
    case NODE_PROCESSING_INSTRUCTION: {
        if (level >= kMaxNesting) RaiseBinXmlReadError();
        auto* instruction = new TXmlProcessingInstruction(table_, ReadNameID(), {});
        list.AppendNew(instruction);
        instruction->SetData(r_.ReadString());
        ReadNodeContent(*instruction, level + 1, false);
        return;
    }
    default: Fail(SBinReadNodeType);
    }
}

void WriteNameTable(TBinXmlWriter& w, const TXmlNameTable& table)
{
    w.WriteCount(static_cast<std::size_t>(table.Count()));
    for (std::int32_t id = 0; id < table.Count(); ++id) w.WriteString(table.NameOf(id));
    w.WriteCompressedInt(table.BucketCount());
    int used = 0;
    for (int b = 0; b < table.BucketCount(); ++b)
        if (!table.Bucket(b).empty()) ++used;
    w.WriteCount(static_cast<std::size_t>(used));
    for (int b = 0; b < table.BucketCount(); ++b) {
        const std::vector<std::int32_t>& bucket = table.Bucket(b);
        if (bucket.empty()) continue;
        w.WriteCompressedInt(b);
        w.WriteCount(bucket.size());
        for (const std::int32_t id : bucket) w.WriteInt32(id);
    }
}

void WriteNodeContent(TBinXmlWriter& w, TXmlNode& node);

void WriteChild(TBinXmlWriter& w, TXmlNode& child)
{
    const int type = child.Get_NodeType();
    switch (type) {
    case NODE_ELEMENT:
        w.WriteByte(NODE_ELEMENT);
        w.WriteCompressedInt(child.Get_NodeNameID());
        // An element with children has its text in them.
        w.WriteVariantValue(child.HasChildren() ? rtl::Variant() : child.Get_TypedValue());
        WriteNodeContent(w, child);
        return;
    case NODE_TEXT:
        w.WriteByte(NODE_TEXT);
        w.WriteVariantValue(child.Get_TypedValue());
        return;
    case NODE_CDATA_SECTION:
    case NODE_COMMENT:
        w.WriteByte(static_cast<std::uint8_t>(type));
        w.WriteString(static_cast<TXmlCharacterData&>(child).Data());
        return;
    case NODE_PROCESSING_INSTRUCTION:
        w.WriteByte(NODE_PROCESSING_INSTRUCTION);
        w.WriteCompressedInt(child.Get_NodeNameID());
        w.WriteString(static_cast<TXmlProcessingInstruction&>(child).Data());
        WriteNodeContent(w, child);
        return;
    default: Fail(SBinWriteNodeType);
    }
}

void WriteNodeContent(TBinXmlWriter& w, TXmlNode& node)
{
    const std::vector<TXmlAttrData>& attrs = node.Attrs();
    w.WriteCount(attrs.size());
    for (const TXmlAttrData& a : attrs) {
        w.WriteCompressedInt(a.nameID);
        w.WriteVariantValue(a.value);
    }
    TXmlNodeList* list = node.ExistingChildren();
    const int count = list ? list->Count() : 0;
    w.WriteCount(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) WriteChild(w, *list->At(i));
}

} // namespace

void TXmlDocument::ReadBinary(TBinXmlReader& reader)
{
    TBinXmlTreeReader tree(reader);
    nameTable_ = tree.ReadNameTable();
    tree.ReadNodeContent(*this, 0, false);
    // The form ends with the document; nothing may follow it.
    if (reader.Remaining() != 0) RaiseBinXmlReadError();
}

void TXmlDocument::WriteBinary(TBinXmlWriter& writer)
{
    WriteNameTable(writer, *nameTable_);
    WriteNodeContent(writer, *this);
}

std::string TXmlDocument::BinaryForm(std::uint32_t options)
{
    TStrXmlWriter writer(options, kStreamBufferSize);
    WriteBinary(writer);
    return writer.TakeResult();
}

void TXmlDocument::SaveBinary(rtl::TStream& stream, int options)
{
    TStmXmlWriter writer(stream, kStreamBufferSize, static_cast<std::uint32_t>(options));
    WriteBinary(writer);
    writer.Flush();
}

} // namespace simplexml

bool IsBinaryXml(std::string_view s)
{
    return s.size() >= BinaryXmlSignature.size() && s.substr(0, BinaryXmlSignature.size()) == BinaryXmlSignature;
}

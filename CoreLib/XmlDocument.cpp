// The document: making, cloning and loading it.
#include "CoreLib/BinaryXml.h"
#include "CoreLib/XmlNodes.h"
#include "CoreLib/XmlTextParser.h"
#include "platform/rtl/Resources.h"

namespace simplexml {

TXmlNodeRef TXmlDocument::DoCloneNode(bool deep)
{
    auto* clone = new TXmlDocument(nameTable_);
    TXmlNodeRef result(clone);
    if (deep && childNodes_) {
        TXmlNodeList* list = clone->GetChildNodeList();
        for (int i = 0; i < childNodes_->Count(); ++i) {
            const TXmlNodeRef child = childNodes_->At(i)->DoCloneNode(true);
            list->AppendNew(child.get());
        }
    }
    return result;
}

IXmlElementPtr TXmlDocument::NewDocument(std::string_view version, std::string_view encoding,
                                         std::int32_t rootNameID)
{
    CheckNameID(rootNameID);
    TXmlNodeList* list = GetChildNodeList();
    list->Clear();
    std::string data = "version=\"";
    data += version;
    data += "\" encoding=\"";
    data += encoding.empty() ? std::string_view("windows-1251") : encoding;
    data += "\"";
    list->InsertNew(new TXmlProcessingInstruction(nameTable_, NAMEID_XML, data), 0);
    auto* root = new TXmlElement(nameTable_, rootNameID);
    IXmlElementPtr result(root);
    list->InsertNew(root, 1);
    return result;
}

// ---- document loading --------------------------------------------------------------

void TXmlDocument::LoadXML(std::string_view xml)
{
    if (IsBinaryXml(xml)) {
        LoadBinaryXML(xml);
        return;
    }
    Empty();
    ParseXmlText(*this, xml, false, nameTable_, preserve_, false);
}

void TXmlDocument::LoadBinaryXML(std::string_view xml)
{
    Empty();
    nameTable_ = rtl::RefPtr<TXmlNameTable>(new TXmlNameTable(kDefaultBuckets));
    TStrXmlReader reader(xml);
    ReadBinary(reader);
}

void TXmlDocument::Load(rtl::TStream& stream)
{
    if (stream.Remaining() >= 15) {
        char signature[BinaryXmlSignature.size()];
        stream.ReadBuffer(signature, sizeof signature);
        if (IsBinaryXml(std::string_view(signature, sizeof signature))) {
            Empty();
            nameTable_ = rtl::RefPtr<TXmlNameTable>(new TXmlNameTable(kDefaultBuckets));
            TStmXmlReader reader(stream, kStreamBufferSize);
            ReadBinary(reader);
            return;
        }
        stream.Seek(-static_cast<std::int64_t>(sizeof signature), rtl::SeekOrigin::Current);
    }
    Empty();
    ParseXmlStream(*this, stream, kStreamBufferSize, nameTable_, preserve_);
}

void TXmlDocument::Load(const std::string& fileName)
{
    rtl::TFileStream file(fileName, rtl::fmOpenRead | rtl::fmShareDenyWrite);
    try {
        Load(file);
    } catch (rtl::Exception& e) {
        e.SetMessage(rtl::Format(SLoadFileError, e.Message().c_str(), fileName.c_str()));
        throw;
    }
}

void TXmlDocument::LoadResource(std::string_view resType, std::string_view resName)
{
    const rtl::ResourceData* res = rtl::FindResource(resType, resName);
    if (!res || res->size == 0 || !res->data) return;
    const std::string_view bytes = res->Bytes();
    if (IsBinaryXml(bytes)) {
        LoadBinaryXML(bytes);
        return;
    }
    Empty();
    ParseXmlText(*this, bytes, true, nameTable_, preserve_, true);
}

} // namespace simplexml

using namespace simplexml;

IXmlDocumentPtr CreateXmlDocument(std::string_view rootName, std::string_view version, std::string_view encoding,
                                  const IXmlNameTablePtr& nameTable)
{
    rtl::RefPtr<TXmlNameTable> table = nameTable ? rtl::RefPtr<TXmlNameTable>(ToTable(nameTable.get()))
                                                 : SharedNameTable();
    IXmlDocumentPtr doc(new TXmlDocument(table));
    if (!rootName.empty()) doc->NewDocument(version, encoding, rootName);
    return doc;
}

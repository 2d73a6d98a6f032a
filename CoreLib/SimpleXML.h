// The XML library: a document model handed out as reference-counted
// interfaces, a name table that interns element and attribute names as
// integer IDs, typed attribute access, the text form (parser and writer),
// base64 and the value-to-text conversions of the XML text form.
//
// Text inside the program is UTF-8. Two ways in and out of a document:
//  - Get_XML / LoadXML carry in-program UTF-8 text. LoadXML reads its
//    argument as UTF-8 and never acts on a declaration's encoding (every
//    declaration is kept as the instruction's attributes).
//  - Save / Load (stream, file) and LoadResource carry the stored byte form:
//    Windows-1251 bytes with characters that Windows-1251 cannot hold written
//    as numeric character references (&#NNNN;) in text and attribute values,
//    or UTF-8 bytes. One rule decides for reading and writing alike: only the
//    leading declaration counts, an "xml" instruction that is the document's
//    first node (blank text before it aside). Windows-1251 when there is none
//    or it names "windows-1251", UTF-8 when it names "utf-8" (any letter
//    case). Load of any other named encoding is a parse error; Save of a
//    document whose leading declaration names one refuses before writing
//    anything. Declarations anywhere else are kept and written, and never
//    consulted for the encoding.
//    Load reads the leading declaration itself as Windows-1251, so in UTF-8
//    bytes Save writes it in ASCII (attribute values outside ASCII as
//    references) and refuses one whose data or names are not ASCII.
// The binary form (LoadBinaryXML, Get_BinaryXML, SaveBinary; LoadXML, Load
// and LoadResource when the input begins with its signature) is described in
// BinaryXml.h. Its 8-bit strings are Windows-1251 bytes; loading it gives the
// document a name table of its own, rebuilt from the names stored.
//
// Every failure is an rtl::Exception; the library's messages are Russian and
// the parser's name the line and position "(стр. %d, поз. %d)" (lines from 0;
// positions count characters). The parser refuses elements nested deeper than
// 1000 levels, and so does the binary reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"

class TXmlBase;

class IXmlBase;
class IXmlNameTable;
class IXmlNodeList;
class IXmlNode;
class IXmlElement;
class IXmlCharacterData;
class IXmlText;
class IXmlCDATASection;
class IXmlComment;
class IXmlProcessingInstruction;
class IXmlDocument;

using IXmlNameTablePtr = rtl::RefPtr<IXmlNameTable>;
using IXmlNodeListPtr = rtl::RefPtr<IXmlNodeList>;
using IXmlNodePtr = rtl::RefPtr<IXmlNode>;
using IXmlElementPtr = rtl::RefPtr<IXmlElement>;
using IXmlTextPtr = rtl::RefPtr<IXmlText>;
using IXmlCDATASectionPtr = rtl::RefPtr<IXmlCDATASection>;
using IXmlCommentPtr = rtl::RefPtr<IXmlComment>;
using IXmlProcessingInstructionPtr = rtl::RefPtr<IXmlProcessingInstruction>;
using IXmlDocumentPtr = rtl::RefPtr<IXmlDocument>;

// Node types (Get_NodeType).
enum : int {
    NODE_ELEMENT = 1,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
};

// The five names every table interns first.
enum : std::int32_t {
    NAMEID_TEXT = 0,          // "#text"
    NAMEID_CDATA_SECTION = 1, // "#cdata-section"
    NAMEID_COMMENT = 2,       // "#comment"
    NAMEID_DOCUMENT = 3,      // "#document"
    NAMEID_XML = 4,           // "xml"
};

// Ordering of two nodes for IXmlNodeList::Sort: negative, zero or positive.
using TXmlCompareNodes = std::function<int(IXmlNode* node1, IXmlNode* node2)>;

class IXmlBase : public virtual rtl::RefCounted {
public:
    // The implementing object (nullptr for a foreign implementation).
    virtual TXmlBase* GetObject() = 0;
};

class IXmlNameTable : public virtual IXmlBase {
public:
    // The name's ID, interned when new; -1 for the empty name.
    virtual std::int32_t GetID(std::string_view name) = 0;
    // "" for a negative ID or one beyond the last name.
    virtual std::string GetName(std::int32_t id) = 0;
};

class IXmlNodeList : public virtual IXmlBase {
public:
    virtual int Get_Count() = 0;
    virtual IXmlNodePtr Get_Item(int index) = 0;
    virtual std::string Get_XML() = 0;
    virtual void Sort(const TXmlCompareNodes& compare) = 0;
    virtual int IndexOf(const IXmlNodePtr& node) = 0;
    virtual void Add(const IXmlNodePtr& node) = 0;
    // index -1 appends.
    virtual void Insert(const IXmlNodePtr& node, int index) = 0;
    // The former position, -1 when the node is not a member.
    virtual int Remove(const IXmlNodePtr& node) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
};

class IXmlNode : public virtual IXmlBase {
public:
    // -- identity and value
    virtual int Get_SourceLine() = 0;
    virtual int Get_SourceColumn() = 0;
    virtual IXmlNameTablePtr Get_NameTable() = 0;
    virtual std::string Get_NodeName() = 0;
    virtual std::int32_t Get_NodeNameID() = 0;
    virtual int Get_NodeType() = 0;
    virtual std::string Get_Text() = 0;
    virtual void Set_Text(std::string_view text) = 0;
    virtual rtl::TVarType Get_DataType() = 0;
    virtual rtl::Variant Get_TypedValue() = 0;
    virtual void Set_TypedValue(const rtl::Variant& value) = 0;
    // The node and its subtree in text form (UTF-8).
    virtual std::string Get_XML() = 0;

    // -- tree
    virtual IXmlNodePtr CloneNode(bool deep) = 0;
    virtual IXmlNodePtr Get_ParentNode() = 0;
    virtual IXmlDocumentPtr Get_OwnerDocument() = 0;
    virtual IXmlNodePtr Get_NextSibling() = 0;
    virtual IXmlNodeListPtr Get_ChildNodes() = 0;
    // A node that has a parent is first removed from it; a node cannot be
    // put into its own subtree.
    virtual void AppendChild(const IXmlNodePtr& node) = 0;
    virtual void InsertBefore(const IXmlNodePtr& node, const IXmlNodePtr& refNode) = 0;
    virtual void ReplaceChild(const IXmlNodePtr& newNode, const IXmlNodePtr& oldNode) = 0;
    virtual int RemoveChild(const IXmlNodePtr& node) = 0;

    // -- making children
    virtual IXmlElementPtr AppendElement(std::int32_t nameID) = 0;
    virtual IXmlElementPtr AppendElement(std::string_view name) = 0;
    virtual IXmlTextPtr AppendText(std::string_view value) = 0;
    virtual IXmlCDATASectionPtr AppendCDATA(std::string_view data) = 0;
    virtual IXmlCommentPtr AppendComment(std::string_view data) = 0;
    virtual IXmlProcessingInstructionPtr AppendProcessingInstruction(std::int32_t targetID,
                                                                     std::string_view data) = 0;
    virtual IXmlProcessingInstructionPtr AppendProcessingInstruction(std::string_view target,
                                                                     std::string_view data) = 0;

    // -- children by name
    virtual std::string GetChildText(std::string_view name, std::string_view defaultValue = {}) = 0;
    virtual std::string GetChildText(std::int32_t nameID, std::string_view defaultValue = {}) = 0;
    virtual void SetChildText(std::string_view name, std::string_view text) = 0;
    virtual void SetChildText(std::int32_t nameID, std::string_view text) = 0;
    virtual IXmlNodePtr NeedChild(std::int32_t nameID) = 0;
    virtual IXmlNodePtr NeedChild(std::string_view name) = 0;
    virtual IXmlNodePtr EnsureChild(std::int32_t nameID) = 0;
    virtual IXmlNodePtr EnsureChild(std::string_view name) = 0;
    virtual void RemoveAllChilds() = 0;
    virtual IXmlNodeListPtr SelectNodes(std::string_view name) = 0;
    virtual IXmlNodeListPtr SelectNodes(std::int32_t nameID) = 0;
    virtual IXmlNodePtr SelectSingleNode(std::string_view name) = 0;
    virtual IXmlElementPtr FindElement(std::string_view elementName, std::string_view attrName,
                                       const rtl::Variant& attrValue) = 0;
    virtual IXmlNodeListPtr FindElements(std::string_view elementName, std::string_view attrName,
                                         const rtl::Variant& attrValue) = 0;

    // -- attributes
    virtual int Get_AttrCount() = 0;
    virtual std::int32_t Get_AttrNameID(int index) = 0;
    virtual std::string Get_AttrName(int index) = 0;
    virtual void RemoveAttr(std::string_view name) = 0;
    virtual void RemoveAttr(std::int32_t nameID) = 0;
    virtual void RemoveAllAttrs() = 0;
    virtual bool AttrExists(std::int32_t nameID) = 0;
    virtual bool AttrExists(std::string_view name) = 0;
    // The value's type code; 256 when the attribute is missing.
    virtual rtl::TVarType GetAttrType(std::int32_t nameID) = 0;
    virtual rtl::TVarType GetAttrType(std::string_view name) = 0;
    virtual rtl::Variant GetVarAttr(std::int32_t nameID, const rtl::Variant& defaultValue = {}) = 0;
    virtual rtl::Variant GetVarAttr(std::string_view name, const rtl::Variant& defaultValue = {}) = 0;
    virtual void SetVarAttr(std::int32_t nameID, const rtl::Variant& value) = 0;
    virtual void SetVarAttr(std::string_view name, const rtl::Variant& value) = 0;
    virtual rtl::Variant NeedVarAttr(std::int32_t nameID) = 0;
    virtual rtl::Variant NeedVarAttr(std::string_view name) = 0;
    virtual std::string NeedAttr(std::int32_t nameID) = 0;
    virtual std::string NeedAttr(std::string_view name) = 0;
    virtual std::string GetAttr(std::int32_t nameID, std::string_view defaultValue = {}) = 0;
    virtual std::string GetAttr(std::string_view name, std::string_view defaultValue = {}) = 0;
    virtual void SetAttr(std::int32_t nameID, std::string_view value) = 0;
    virtual void SetAttr(std::string_view name, std::string_view value) = 0;
    virtual bool GetBoolAttr(std::int32_t nameID, bool defaultValue = false) = 0;
    virtual bool GetBoolAttr(std::string_view name, bool defaultValue = false) = 0;
    virtual void SetBoolAttr(std::int32_t nameID, bool value) = 0;
    virtual void SetBoolAttr(std::string_view name, bool value) = 0;
    virtual std::int32_t GetIntAttr(std::int32_t nameID, std::int32_t defaultValue = 0) = 0;
    virtual std::int32_t GetIntAttr(std::string_view name, std::int32_t defaultValue = 0) = 0;
    virtual void SetIntAttr(std::int32_t nameID, std::int32_t value) = 0;
    virtual void SetIntAttr(std::string_view name, std::int32_t value) = 0;
    virtual rtl::TDateTime GetDateTimeAttr(std::int32_t nameID, rtl::TDateTime defaultValue = 0) = 0;
    virtual rtl::TDateTime GetDateTimeAttr(std::string_view name, rtl::TDateTime defaultValue = 0) = 0;
    virtual void SetDateTimeAttr(std::int32_t nameID, rtl::TDateTime value) = 0;
    virtual void SetDateTimeAttr(std::string_view name, rtl::TDateTime value) = 0;
    virtual double GetFloatAttr(std::int32_t nameID, double defaultValue = 0) = 0;
    virtual double GetFloatAttr(std::string_view name, double defaultValue = 0) = 0;
    virtual double NeedFloatAttr(std::int32_t nameID) = 0;
    virtual double NeedFloatAttr(std::string_view name) = 0;
    virtual void SetFloatAttr(std::int32_t nameID, double value) = 0;
    virtual void SetFloatAttr(std::string_view name, double value) = 0;
    virtual std::int32_t GetHexAttr(std::string_view name, std::int32_t defaultValue = 0) = 0;
    virtual std::int32_t GetHexAttr(std::int32_t nameID, std::int32_t defaultValue = 0) = 0;
    virtual void SetHexAttr(std::string_view name, std::int32_t value, int digits = 0) = 0;
    virtual void SetHexAttr(std::int32_t nameID, std::int32_t value, int digits = 0) = 0;
    // Index of the value among values (letter case ignored).
    virtual int GetEnumAttr(std::string_view name, const std::vector<std::string>& values,
                            int defaultValue = 0) = 0;
    virtual int GetEnumAttr(std::int32_t nameID, const std::vector<std::string>& values,
                            int defaultValue = 0) = 0;
    virtual int NeedEnumAttr(std::string_view name, const std::vector<std::string>& values) = 0;
    virtual int NeedEnumAttr(std::int32_t nameID, const std::vector<std::string>& values) = 0;

    // -- content
    virtual void ReplaceTextByCDATA(std::string_view text) = 0;
    virtual void ReplaceTextByBinaryData(const void* buffer, std::size_t size, int lineLength = 0) = 0;
    virtual std::string GetTextAsBinaryData() = 0;
    virtual std::string GetOwnText() = 0;
    // "" the node's typed value, "@name" an attribute, "name" a child element.
    virtual rtl::Variant Get_Values(std::string_view path) = 0;
    virtual void Set_Values(std::string_view path, const rtl::Variant& value) = 0;

    // -- the node as its own kind (nullptr for another kind)
    virtual IXmlElementPtr AsElement() = 0;
    virtual IXmlTextPtr AsText() = 0;
    virtual IXmlCDATASectionPtr AsCDATASection() = 0;
    virtual IXmlCommentPtr AsComment() = 0;
    virtual IXmlProcessingInstructionPtr AsProcessingInstruction() = 0;
};

class IXmlElement : public virtual IXmlNode {};
class IXmlCharacterData : public virtual IXmlNode {};
class IXmlText : public virtual IXmlNode {};
class IXmlCDATASection : public virtual IXmlCharacterData {};
class IXmlComment : public virtual IXmlCharacterData {};
class IXmlProcessingInstruction : public virtual IXmlNode {};

class IXmlDocument : public virtual IXmlNode {
public:
    virtual IXmlElementPtr Get_DocumentElement() = 0;
    // The binary form with Options 0 (8-bit strings).
    virtual std::string Get_BinaryXML() = 0;
    virtual bool Get_PreserveWhiteSpace() = 0;
    virtual void Set_PreserveWhiteSpace(bool value) = 0;
    // Empties the children (attributes stay), then a declaration and a root.
    virtual IXmlElementPtr NewDocument(std::string_view version, std::string_view encoding,
                                       std::int32_t rootNameID) = 0;
    virtual IXmlElementPtr NewDocument(std::string_view version, std::string_view encoding,
                                       std::string_view rootName) = 0;
    virtual IXmlElementPtr CreateElement(std::int32_t nameID) = 0;
    virtual IXmlElementPtr CreateElement(std::string_view name) = 0;
    virtual IXmlTextPtr CreateText(std::string_view value) = 0;
    virtual IXmlCDATASectionPtr CreateCDATASection(std::string_view data) = 0;
    virtual IXmlCommentPtr CreateComment(std::string_view data) = 0;
    virtual IXmlProcessingInstructionPtr CreateProcessingInstruction(std::string_view target,
                                                                     std::string_view data) = 0;
    virtual IXmlProcessingInstructionPtr CreateProcessingInstruction(std::int32_t targetID,
                                                                     std::string_view data) = 0;
    // In-program UTF-8 text, or the binary form when xml begins with its
    // signature.
    virtual void LoadXML(std::string_view xml) = 0;
    // The binary form; its first 14 bytes are not checked. A failure
    // ("Ошибка чтения данных." and the others of BinaryXml.h) leaves the
    // document with its new name table and the nodes read so far.
    virtual void LoadBinaryXML(std::string_view xml) = 0;
    // The byte form, from the stream's position to its end; the binary form
    // when at least 15 bytes remain and the first 14 are its signature.
    virtual void Load(rtl::TStream& stream) = 0;
    virtual void Load(const std::string& fileName) = 0;
    // The embedded resource's bytes (text or binary form); nothing happens
    // when it is missing or empty.
    virtual void LoadResource(std::string_view resType, std::string_view resName) = 0;
    // The byte form.
    virtual void Save(rtl::TStream& stream) = 0;
    virtual void Save(const std::string& fileName) = 0;
    // The binary form with the given Options (bit 0: names and node strings
    // as UTF-16). The stream gets everything or the failure is raised: the
    // buffer is flushed before the call returns. The file is written only
    // once the bytes are made.
    virtual void SaveBinary(rtl::TStream& stream, int options = 0) = 0;
    virtual void SaveBinary(const std::string& fileName, int options = 0) = 0;
};

// A new document; an empty rootName leaves it empty, otherwise NewDocument is
// called. nameTable nullptr means the shared table of the process.
IXmlDocumentPtr CreateXmlDocument(std::string_view rootName = {}, std::string_view version = "1.0",
                                  std::string_view encoding = {},
                                  const IXmlNameTablePtr& nameTable = nullptr);
// A name table of its own; bucketCount is brought into 1 .. 65 536, the
// bucket counts the binary form reads.
IXmlNameTablePtr CreateNameTable(int bucketCount = 4096);

// Escapes '"', '&', '<' and '>'; nothing else.
std::string XmlEscape(std::string_view s);
// The text of a typed value as the text form writes it.
std::string VarToXmlStr(const rtl::Variant& v);
// Reads "1.5" and "1,5" alike; EConvertError otherwise.
double XmlStrToFloat(std::string_view s);
std::string FloatToXmlStr(double value);
// "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", milliseconds dropped.
std::string DateTimeToXmlStr(rtl::TDateTime value);
rtl::TDateTime XmlStrToDateTime(std::string_view s);

// The node's direct text and CDATA children joined with no separator, each as
// it is stored: unlike GetOwnText, CDATA sections are never trimmed. When the
// node holds a CDATA section, text children made only of blanks (characters
// up to 32) are left out: they are the indentation that the text form puts
// around the sections. An element without children gives the text of its
// simple value. Nothing in the node changes.
std::string GetRawOwnText(IXmlNode& node);

// The first 14 bytes are the binary signature "< binary-xml >".
bool IsBinaryXml(std::string_view s);
// Base64 with a CR LF after every lineLength characters but the last ones
// (lineLength 0 or less: one line).
std::string Base64Encode(const void* buffer, std::size_t size, int lineLength = 0);
// Lenient decoder: blanks and control characters are skipped, unknown
// characters count as 0. For L characters left (characters, not UTF-8 bytes)
// the result has (L + 3) / 4 * 3 bytes, less 2 when the next-to-last is "=",
// else less 1 when the last is "="; characters missing from a short last
// group count as 0. Never fails, never reads past the text.
std::string Base64Decode(std::string_view text);
// The text as the base64 decoders read it: blanks and control characters
// (up to 32) left out, every character outside ASCII as the one byte '\x80'
// outside the alphabet; in a text that is not UTF-8, every byte outside ASCII.
std::string Base64CleanText(std::string_view text);
// The 6-bit value of a base64 character, -1 outside the alphabet.
int Base64CharValue(char c) noexcept;

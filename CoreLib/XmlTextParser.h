// The parser of the text form: reads characters (code points) from a string
// or a stream, decoding UTF-8 or Windows-1251 as described in SimpleXML.h,
// and builds the nodes directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "CoreLib/XmlNodes.h"

namespace simplexml {

// Parses text into the owner's children. cp1251: the bytes are
// Windows-1251 (else UTF-8); byteForm: the leading declaration's encoding
// decides how the rest is decoded, otherwise no encoding is looked at.
void ParseXmlText(TXmlNode& owner, std::string_view bytes, bool cp1251, rtl::RefPtr<TXmlNameTable> table,
                  bool preserve, bool byteForm);
// Parses the stored byte form from the stream's position to its end.
void ParseXmlStream(TXmlNode& owner, rtl::TStream& stream, std::size_t bufferSize,
                    rtl::RefPtr<TXmlNameTable> table, bool preserve);
// The encoding that a declaration with these data names, read as the parser
// reads the attributes of a declaration; nullopt when it names none or when
// the data are no attributes.
std::optional<std::string> DeclarationDataEncoding(std::string_view data);

} // namespace simplexml

// What the units of the XML library share: its messages, its limits, the
// character classes of names and blanks, and the object identity base of
// every object it hands out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"

namespace simplexml {

// ---- messages ----------------------------------------------------------------
constexpr const char* SLoadFileError = "%s (%s)";                                          // 65203
constexpr const char* SAttrNameNotSet = "Ошибка установки значения атрибута: не задано имя.";  // 65204
constexpr const char* SEnumAttrNotFound = "Не найден атрибут \"%s\"";                       // 65216
constexpr const char* SAttrNotSet = "Не задан атрибут \"%s\"";                              // 65217
constexpr const char* SNotSupported = "Данная возможность не поддерживается SimpleXML";     // 65218
constexpr const char* SChildNotFound = "Ошибка: не найден дочерний элемент \"%s\".";        // 65219
constexpr const char* SNameStart = "Имя должно начинаться с буквы или \"_\" (стр. %d, поз. %d)"; // 65220
constexpr const char* SExpectedNumber = "Ожидается число (стр. %d, поз. %d)";              // 65221
constexpr const char* SExpectedHex = "Ожидается шестнадцатеричное число (стр. %d, поз. %d)"; // 65222
constexpr const char* SExpectedRef =
    "Ожидается \"#\" или имя упрамляющего символа (стр. %d, поз. %d)";                     // 65223
constexpr const char* SBadEntityName = "Некорректное имя управляющего символа (стр. %d, поз. %d)"; // 65224
constexpr const char* SExpectedChar = "Ожидается \"%s\" (стр. %d, поз. %d)";               // 65225
constexpr const char* SExpectedText = "Ожидается \"%s\" (стр. %d, поз. %d)";               // 65226
constexpr const char* SLessInAttr =
    "Символ \"<\" не может использоваться в значениях атрибутов (стр. %d, поз. %d)";       // 65227
constexpr const char* SExpectedQuote = "Ожидается \"%s\" (стр. %d, поз. %d)";              // 65228
constexpr const char* SExpectedAttrValue = "Ожидается значение атрибута (стр. %d, поз. %d)"; // 65229
constexpr const char* SExpectedString = "Ожидается строковая константа (стр. %d, поз. %d)"; // 65230
constexpr const char* SExpectedTerminator = "Ожидается \"%s\" (стр. %d, поз. %d)";         // 65231
constexpr const char* SListIndexError = "Ошибка получения элемента списка: индекс выходит за пределы"; // 65242
constexpr const char* SUnfinishedElement = "Не завершено определение элемента";             // 65243
constexpr const char* SBadElementNameChar = "Некорретный символ в имени элемента";          // 65244
constexpr const char* SBinReadNodeType = "Ошибка чтения двоичного XML: некорректный тип узла";  // 65245
constexpr const char* SBinWriteNodeType = "Ошибка записи двоичного XML: некорректный тип узла"; // 65246
constexpr const char* SBadEnumValue =
    "Неверное значение атрибута \"%s\" элемента \"%s\".\r\nДопустимые значения:\r\n%s";     // 65247

// This library's own additions.
constexpr const char* SBadCharCode = "Некорректный код символа (стр. %d, поз. %d)";
constexpr const char* SBadUtf8 = "Некорректная последовательность UTF-8 (стр. %d, поз. %d)";
constexpr const char* SBadEncoding = "Неподдерживаемая кодировка \"%s\" (стр. %d, поз. %d)";
constexpr const char* SCantSaveEncoding = "Документ не может быть сохранён в кодировке \"%s\"";
constexpr const char* SNonAsciiDeclaration =
    "Объявление документа в кодировке UTF-8 может содержать только символы ASCII";
constexpr const char* STooDeep = "Слишком глубокая вложенность элементов (стр. %d, поз. %d)";
constexpr const char* SCyclicInsert = "Узел не может быть вставлен в собственное поддерево";

constexpr int kDefaultBuckets = 4096;
// The most buckets a name table has, so that every table can be stored in
// the binary form and read back from it.
constexpr std::int32_t kMaxBuckets = 65536;
constexpr int kMaxNesting = 1000;
constexpr std::size_t kStreamBufferSize = 64 * 1024;
constexpr bool kDefaultPreserveWhiteSpace = false;

inline bool IsNameStart(char32_t c) { return c == U'_' || rtl::IsCharAlpha(c); }
inline bool IsNameChar(char32_t c)
{
    return c == U'-' || c == U'.' || c == U':' || c == U'_' || rtl::IsCharAlphaNumeric(c);
}

inline bool AllBlank(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return rtl::IsBlankChar(c); });
}

[[noreturn]] inline void Fail(const std::string& message) { throw rtl::Exception(message); }

} // namespace simplexml

// ---- object identity -------------------------------------------------------------

class TXmlBase : public virtual IXmlBase {
public:
    TXmlBase* GetObject() override { return this; }

protected:
    ~TXmlBase() override = default;
};

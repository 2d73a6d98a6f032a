// The access layer's exception class and every message it raises, together
// so they can be read at a glance.
#pragma once

#include "platform/rtl/Exceptions.h"

// Operational errors of the access layer: a message only.
class EUdbException : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

namespace UdbMsg {
// Data types.
inline constexpr const char* BadDataType =
    "Ошибка получения описания типа данных: недопустимая комбинация типа и подтипа.";
inline constexpr const char* BadDataTypeName =
    "Ошибка получения описания типа данных: недопустимое название типа.";
// Databases, statements, cursors.
inline constexpr const char* DatabaseClosed = "Ошибка: Операция не может быть выполнена, база данных закрыта";
inline constexpr const char* NotInTransaction = "Datatabase not in transaction mode";
inline constexpr const char* CapabilityNotSupported = "Capability not supported";
inline constexpr const char* DdlInTransaction = "DDL transactions not supported";
inline constexpr const char* CursorClosed = "Ошибка доступа к данным: курсор закрыт";
inline constexpr const char* BadParameter = "Не верный параметр";
inline constexpr const char* FieldNotFound = "Не найдено поле \"%s\"";
inline constexpr const char* ParamCountMismatch =
    "Число параметров в SQL запросе не соответствует числу переданных параметров";
inline constexpr const char* ParamNotGivenPrefix = "Не задан ";
inline constexpr const char* ParamNotGivenSuffix = " параметр";
inline constexpr const char* BadBlobValue =
    "Blob должен передаваться в виде одномерного массива байт, либо быть равным Null";
inline constexpr const char* PrepareFailed = "Запрос \"%s\". %s";
inline constexpr const char* ExecuteFailed = "Запрос \"%s\".\n\rПараметры:\n\r%s\n\r Ошибка: \"%s\"";
// Names that come from data and go into SQL.
inline constexpr const char* BadSqlName = "Недопустимое имя \"%s\" в SQL-запросе";
inline constexpr const char* NoUniqueTableName = "Не удалось подобрать свободное имя таблицы для \"%s\"";
// Assertions.
inline constexpr const char* ObjectNotInitialized = "Object not initialized";
inline constexpr const char* InvalidObjectType = "Invalid object type";
inline constexpr const char* EmptyXmlDocument = "Error empty XML document";
inline constexpr const char* InvalidTransactionMode = "Invalid transaction mode";
inline constexpr const char* InvalidParameters = "Invalid parametrs";
inline constexpr const char* BlobMustBeByteArray = "Blob field must return array of byte";
inline constexpr const char* UnassignedCursorValue = "Cursor return unassigned value";
} // namespace UdbMsg


// Small utilities of the core library: path joining, float text with either
// decimal separator, freeing the objects of a list, stream strings, the
// word-start search of the word filter and the bounds of a variant array.
//
// Stream strings are a stored format (the additional data of semantic
// tables): a length byte L, then, only when L is 254, a signed 32-bit
// little-endian length N, then the characters, one Windows-1251 byte each,
// no terminator. Texts are UTF-8 inside the program and are converted to and
// from Windows-1251 here; lengths count Windows-1251 bytes, which are the
// characters.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/RefObjects.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"

// Joins path parts with exactly one "/" at every seam; empty parts are
// skipped. JoinPath({"/mnt/", "/data", "", "file.txt"}) is "/mnt/data/file.txt".
std::string JoinPath(std::initializer_list<std::string_view> parts);
std::string JoinPath(const std::vector<std::string>& parts);

// A float text written with "," or "." as the decimal separator: the first
// "," is read as "." (only that one character is replaced), then the text is
// converted by rtl::StrToFloat, whose EConvertError passes on.
double StrToFloatAnySep(std::string_view s);

// Frees the items of a list of owned pointers from the last to the first:
// each is taken out of the list and then freed with FreeObj (a plain object
// is deleted, a TRefObject discarded). Nothing when list is nullptr. When
// freeing an item raises, the item is put back at the end of the list and the
// exception passes on.
template <class T>
void FreeListObjects(std::vector<T*>* list)
{
    if (!list) return;
    while (!list->empty()) {
        T* item = list->back();
        list->pop_back();
        T* freed = item;
        try {
            FreeObj(freed);
        } catch (...) {
            list->push_back(item);
            throw;
        }
    }
}

// FreeListObjects, then the list itself is freed.
template <class T>
void FreeListAndObjects(std::unique_ptr<std::vector<T*>>& list)
{
    FreeListObjects(list.get());
    list.reset();
}

// Writes s as a stream string: UTF-8 converted to Windows-1251 (a character
// outside it raises rtl::EEncodingError and nothing is written); length 0 to
// 253 as the length byte, 254 and more as 254 and the 32-bit length. The
// bytes go out with one block write (rtl::EWriteError when the stream
// refuses).
void StreamWriteString(rtl::TStream& stream, std::string_view s);

// Reads a stream string into s (converted to UTF-8). A length byte 255 means
// 255 characters; a negative 32-bit length reads as the empty string. A
// length that exceeds the bytes left in the stream, or maxLength when it is
// not negative, raises rtl::EReadError saying so, as does a stream that ends
// inside the length. s is assigned only when the whole string was read.
void StreamReadString(rtl::TStream& stream, std::string& s, std::int64_t maxLength = -1);
// The same, returning the string.
std::string StreamReadString(rtl::TStream& stream, std::int64_t maxLength = -1);

// True when word occurs in text at a word start: at the beginning of text or
// right after a character that is not a letter or digit (Latin and Cyrillic
// count as letters). Exact comparison; an empty word is never found.
bool IsWordInText(std::string_view word, std::string_view text);

// Bounds of dimension 1 of an array (a variant array or one of a simple type)
// as it was made; a byte array has 0 and its size minus 1 (-1 when empty).
// A value that is no array raises rtl::EVariantError "Invalid argument".
int VarArrayLow(const rtl::Variant& v);
int VarArrayHigh(const rtl::Variant& v);

#include "CoreLib/XmlNameTable.h"

namespace simplexml {

TXmlNameTable* ToTable(IXmlNameTable* table)
{
    auto* obj = table ? dynamic_cast<TXmlNameTable*>(table->GetObject()) : nullptr;
    if (!obj) throw rtl::EInvalidCast(rtl::SInvalidCast);
    return obj;
}

rtl::RefPtr<TXmlNameTable>& SharedNameTable()
{
    static rtl::RefPtr<TXmlNameTable> table(new TXmlNameTable(kDefaultBuckets));
    return table;
}

} // namespace simplexml

using namespace simplexml;

IXmlNameTablePtr CreateNameTable(int bucketCount)
{
    return IXmlNameTablePtr(new TXmlNameTable(bucketCount));
}

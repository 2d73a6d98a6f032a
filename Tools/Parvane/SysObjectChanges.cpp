// Mode 1: the chosen system objects get new identifiers, kind by kind, with
// every reference to them.
#include "Tools/Parvane/ChangeEngine.h"

#include "platform/rtl/Exceptions.h"

void TChangeEngine::ChangeSystemObjects()
{
    throw rtl::Exception("Изменение идентификаторов системных объектов пока не поддерживается");
}

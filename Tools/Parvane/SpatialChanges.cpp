// Mode 2: the map objects of the chosen layers get new identifiers, sector
// by sector, with their semantic rows, object index rows and links.
#include "Tools/Parvane/ChangeEngine.h"

#include "platform/rtl/Exceptions.h"

void TChangeEngine::ChangeSpatialObjectIDs()
{
    throw rtl::Exception("Изменение идентификаторов пространственных объектов пока не поддерживается");
}

#include "programresources.h"

#include <QtGlobal>

void initProgramResources()
{
    Q_INIT_RESOURCE(sheetdrain);
}

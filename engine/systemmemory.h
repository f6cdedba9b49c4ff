#ifndef VELUMEN_SYSTEMMEMORY_H
#define VELUMEN_SYSTEMMEMORY_H

#include <QtGlobal>

// What the machine can still give this process, in bytes: the memory available without swapping,
// and no more than the process's own address-space limit allows. A very large value when unknown.
class SystemMemory
{
public:
    static qint64 available();
};

#endif

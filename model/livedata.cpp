#include "model/livedata.h"

BmsLiveData &liveData()
{
    static BmsLiveData block;
    return block;
}

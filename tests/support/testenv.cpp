#include "support/testenv.h"

#include "app/startup.h"
#include "model/livedata.h"

#include <QTemporaryDir>

namespace TestEnv {

QString openFreshDatabases()
{
    static QTemporaryDir dir;
    Startup::openDatabases(dir.path());
    return dir.path();
}

void resetLiveData()
{
    liveData() = BmsLiveData{};
}

} // namespace TestEnv

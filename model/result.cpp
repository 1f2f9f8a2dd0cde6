#include "model/result.h"

#include <QSaveFile>

namespace SafeSave {

namespace {

Result failed(QSaveFile &file)
{
    const QString reason = file.errorString();
    file.cancelWriting();
    return Result::failure(reason);
}

} // namespace

Result open(QSaveFile &file)
{
    // Unbuffered: every write reaches the system at once, so that its
    // refusal is seen with its reason. A buffered last piece would be
    // written only within commit(), which does not report that it was cut
    // short. The callers write large pieces anyway.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Result::failure(file.errorString());
    return Result();
}

Result write(QSaveFile &file, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 n = file.write(data, size);
        if (n <= 0)
            return failed(file);
        data += n;
        size -= n;
    }
    return Result();
}

Result commit(QSaveFile &file)
{
    if (!file.commit())
        return Result::failure(file.errorString());
    return Result();
}

} // namespace SafeSave

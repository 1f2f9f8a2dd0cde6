#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;
class QSaveFile;

// The outcome of something that can fail for a reason the user must be
// told: success, a stop the user asked for, or a failure with its reason in
// the words of the part that refused (the system's "No space left on
// device", the database's own text). Whoever shows it adds what was being
// done, in the current language. A result left unread is a compile
// warning: a failure must never pass in silence.
class [[nodiscard]] Result
{
public:
    Result() = default; // success

    static Result failure(const QString &reason)
    {
        Result r;
        r.m_state = State::Failed;
        r.m_error = reason.isEmpty() ? QStringLiteral("unknown error") : reason;
        return r;
    }
    static Result cancelled()
    {
        Result r;
        r.m_state = State::Cancelled;
        return r;
    }

    bool ok() const { return m_state == State::Ok; }
    bool isCancelled() const { return m_state == State::Cancelled; }
    // Why it failed; empty unless it did.
    const QString &error() const { return m_error; }

private:
    enum class State { Ok, Cancelled, Failed };
    State m_state = State::Ok;
    QString m_error;
};

// Saving through QSaveFile: the text goes to a temporary file beside the
// target, which replaces the target only once every byte is on disk. A
// failure at any step leaves the old file as it was and no temporary file.
namespace SafeSave {

// Opens `file` for writing.
Result open(QSaveFile &file);
// Writes all of `bytes`. A short write (the disk filling up) is tried again
// for the rest, so that the system names its reason. On failure the writing
// is cancelled and commit() will not replace the target.
Result write(QSaveFile &file, const char *data, qint64 size);
inline Result write(QSaveFile &file, const QByteArray &bytes) { return write(file, bytes.constData(), bytes.size()); }
// Puts the file in place of the target.
Result commit(QSaveFile &file);

} // namespace SafeSave

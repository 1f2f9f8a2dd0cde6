#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a serial line: the tool opens the
// slave side by name as if it were a port; whoever holds this object talks
// on the master side. The slave side is held open here too, so the master
// never sees end-of-file while the tool closes and reopens its port.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open();
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString slaveName() const { return m_slaveName; }
    int masterFd() const { return m_master; }
    QString errorString() const { return m_error; }

    // Everything the other side has written so far (never blocks).
    QByteArray readAvailable();
    // Writes all bytes to the other side; false on error.
    bool write(const QByteArray &bytes);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QString m_error;
};

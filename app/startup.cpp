#include "app/startup.h"

#include "gui/dialogs.h"
#include "store/recordtablemodel.h"
#include "store/schema.h"

#include <QDebug>
#include <QSqlDatabase>

namespace Startup {

bool openDatabases(const QString &directory)
{
    qDebug() << "Available drivers:";
    const QStringList drivers = QSqlDatabase::drivers();
    for (const QString &driver : drivers)
        qDebug() << driver;

    // The box keeps the usual text and adds the file and the reason.
    const QString text = QStringLiteral("Unable to establish a database connection.");
    const Result first = Schema::openDatabase(QStringLiteral("connection1"), directory + QStringLiteral("/my1.db"),
                                              QString::fromLatin1(Schema::CreateTotalTable), QStringLiteral("total"));
    if (!first.ok()) {
        Dialogs::message(nullptr, QMessageBox::Critical, QStringLiteral("Cannot open database1"),
                         text + QStringLiteral("\n") + first.error(), QMessageBox::Cancel);
        return false;
    }
    // The trend's minute summary of table total, its trigger and time index.
    RecordTable::history().companions(QSqlDatabase::database(QStringLiteral("connection1")));
    const Result second = Schema::openDatabase(QStringLiteral("connection2"), directory + QStringLiteral("/my2.db"),
                                               QString::fromLatin1(Schema::CreateRecordTable), QStringLiteral("record"));
    if (!second.ok()) {
        Dialogs::message(nullptr, QMessageBox::Critical, QStringLiteral("Cannot open database2"),
                         text + QStringLiteral("\n") + second.error(), QMessageBox::Cancel);
        return false;
    }
    return true;
}

} // namespace Startup
